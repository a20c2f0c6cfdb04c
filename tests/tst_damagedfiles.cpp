// Damaged and unexpected database files, products files and folders, met the way a user meets them: starting the
// program, logging in, saving. Each time the program says what is wrong, keeps running, and leaves the user's file as
// it found it.

#include "base/HiClass.h"
#include "base/SafeFile.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/ProductsFile.h"
#include "forms/EntryPage.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <csignal>
#include <sys/resource.h>

namespace {

// While one lives, no file of this process can grow past the given size: a write beyond it fails as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_before);
        // The signal would end the process; ignored, the write fails with an error instead.
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_before;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_before);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_before {};
    void (*m_handler)(int) = nullptr;
};

const QString kUser = QStringLiteral("张三");
const QString kPassword = QStringLiteral("pw");

struct StartOutcome
{
    TfrmMain::CreateResult result;
    QStringList shown;
    // Names the login dialog listed, when it came up.
    std::optional<QStringList> listed;
};

// The start as the program runs it; the login dialog, if it comes up, gets the password and Enter, and is cancelled
// if it is still there afterwards.
StartOutcome startProgram()
{
    std::optional<QStringList> listed;
    // Owned here, so that it stops with this start even when no login dialog came up.
    QTimer loginWatch;
    loginWatch.setInterval(10);
    QObject::connect(&loginWatch, &QTimer::timeout, [&] {
        QWidget* login = QApplication::activeModalWidget();
        if (!login || login->objectName() != QLatin1String("frmLogin") || !login->isVisible())
            return;
        loginWatch.stop();
        auto* names = child<QComboBox>(login, "ComboBox1");
        QStringList items;
        for (int i = 0; i < names->count(); ++i)
            items.append(names->itemText(i));
        listed = items;
        auto* password = child<QLineEdit>(login, "Edit1");
        typeText(password, kPassword);
        QTest::keyClick(password, Qt::Key_Return);
        if (login->isVisible())
            child<QPushButton>(login, "Button2")->click();
    });
    loginWatch.start();
    TfrmMain form;
    const TfrmMain::CreateResult result = form.FormCreate();
    return { result, MessageBox::takeShownTexts(), listed };
}

// A database with one account and some lines, as a user's file looks after a while.
QByteArray usedDatabase()
{
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", dataHome); });
    TestDataHome scratch;
    {
        TDbMan db;
        db.AddUser(kUser, kPassword);
        QList<TextLine> lines;
        for (int i = 0; i < 300; ++i)
            lines.append({ QStringLiteral("2024/05/01"), QStringLiteral("毛巾%1").arg(i), QStringLiteral("1"),
                QStringLiteral("2.50"), QStringLiteral("1.00"), QStringLiteral("备注") });
        addRecords(db, kUser, lines);
    }
    return readAll(scratch.dbPath());
}

// A valid SQLite file made by some other program.
QByteArray foreignDatabase()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("other.db"));
    {
        RawDb db(path, RawDb::Open::CreateIfMissing);
        db.exec(QStringLiteral("CREATE TABLE Customers (Name TEXT, Phone TEXT)"));
        db.exec(QStringLiteral("INSERT INTO Customers VALUES ('王五', '123')"));
    }
    return readAll(path);
}

constexpr auto kFileBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr auto kFolderBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

} // namespace

class TestDamagedFiles : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    QByteArray used;

    void placeDatabase(const QByteArray& content)
    {
        QVERIFY(QDir().mkpath(home->dataDir()));
        QVERIFY(writeAll(home->dbPath(), content));
    }

    // Every start refused the same way, with one clear message that names the file.
    void expectRefusedStart(const QString& messageStart)
    {
        const StartOutcome outcome = startProgram();
        QCOMPARE(outcome.result, TfrmMain::CreateResult::Failed);
        QVERIFY2(!outcome.listed, "the login dialog came up on a database it could not read");
        QCOMPARE(outcome.shown.size(), 1);
        QVERIFY2(outcome.shown.first().contains(messageStart), qPrintable(outcome.shown.first()));
    }

    QString productsFile() const
    {
        return home->dataDir() + QLatin1Char('/') + THi::GetMd5(kUser) + QStringLiteral("-products.txt");
    }

    static QStringList productNames(TfrmMain& form)
    {
        auto* names = child<QComboBox>(&form, "ComboBox1");
        QStringList items;
        for (int i = 0; i < names->count(); ++i)
            items.append(names->itemText(i));
        return items;
    }

    // Adds one pending line with the buttons, as the user does.
    static void addLine(TfrmMain& form, const QString& product)
    {
        auto* name = child<QComboBox>(&form, "ComboBox1");
        name->clearEditText();
        typeText(name, product);
        for (const char* field : { "ComboBox2", "ComboBox3", "ComboBox4" })
            typeText(child<QLineEdit>(&form, field), QStringLiteral("3"));
        QTest::mouseClick(child<QPushButton>(&form, "Button1"), Qt::LeftButton);
        // The name is written after the click, in the background: its outcome is waited for here.
        child<TEntryPage>(&form, "Panel2")->flushProductNames();
    }

private Q_SLOTS:
    void initTestCase() { used = usedDatabase(); }
    void init()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
    }
    void cleanup()
    {
        hooks.reset();
        // Whatever a test made unwritable must be removable again.
        QFile::setPermissions(home->dataDir(), kFolderBits);
        QFile::setPermissions(home->dbPath(), kFileBits);
        home.reset();
    }

    void damagedDatabase_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        const QString damaged = QStringLiteral("”已损坏：");
        const QString notDatabase = QStringLiteral("”不是数据库文件：");
        const QString notOurs = QStringLiteral("”不是 Kivaro 的数据库：");
        QTest::newRow("zero bytes") << QByteArray() << notOurs;
        QTest::newRow("truncated to half") << used.left(used.size() / 2) << damaged;
        QTest::newRow("header only") << used.left(100) << damaged;
        QTest::newRow("cut inside the header") << used.left(50) << damaged;
        QByteArray noise(64 * 1024, '\0');
        QRandomGenerator random(20240501);
        random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        QTest::newRow("random bytes") << noise << notDatabase;
        QByteArray scrambled = used;
        for (qsizetype i = 4096; i < scrambled.size(); i += 97)
            scrambled[i] = char(scrambled[i] ^ 0x5A);
        QTest::newRow("scrambled pages") << scrambled << damaged;
        QTest::newRow("text file") << QByteArray("张三,毛巾,1,2.50\r\n").repeated(100) << notDatabase;
        QTest::newRow("another program's database") << foreignDatabase() << notOurs;
    }

    void damagedDatabase()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        placeDatabase(content);
        const QByteArray before = fingerprint(home->dbPath());
        expectRefusedStart(message);
        QVERIFY(startProgram().shown.value(0).contains(home->dbPath()));
        QCOMPARE(fingerprint(home->dbPath()), before);
        QVERIFY(!QFile::exists(home->dbPath() + QStringLiteral("-journal")));
    }

    void folderInPlaceOfDatabase()
    {
        QVERIFY(QDir().mkpath(home->dbPath() + QStringLiteral("/inside")));
        const QByteArray before = fingerprint(home->dbPath());
        expectRefusedStart(QStringLiteral("”，那里是一个文件夹："));
        QCOMPARE(fingerprint(home->dbPath()), before);
    }

    void unreadableDatabase()
    {
        placeDatabase(used);
        QVERIFY(QFile::setPermissions(home->dbPath(), {}));
        const QByteArray before = fingerprint(home->dbPath());
        {
            PermissionsApply apply;
            expectRefusedStart(QStringLiteral("”，没有读写它的权限："));
        }
        QCOMPARE(fingerprint(home->dbPath()), before);
    }

    // The user can see the accounts but not log in, since logging in records the order of last login.
    void readOnlyDatabaseRefusesLogin_data()
    {
        QTest::addColumn<bool>("folderReadOnly");
        QTest::newRow("file read-only") << false;
        QTest::newRow("folder read-only") << true;
    }

    void readOnlyDatabaseRefusesLogin()
    {
        QFETCH(bool, folderReadOnly);
        placeDatabase(used);
        QVERIFY(QFile::setPermissions(folderReadOnly ? home->dataDir() : home->dbPath(),
            folderReadOnly ? QFileDevice::ReadOwner | QFileDevice::ExeOwner : QFileDevice::ReadOwner));
        const QByteArray before = fingerprint(home->dbPath());
        {
            PermissionsApply apply;
            const StartOutcome outcome = startProgram();
            QCOMPARE(outcome.result, TfrmMain::CreateResult::LoginCancelled);
            QCOMPARE(outcome.listed, QStringList { kUser });
            QCOMPARE(outcome.shown.size(), 1);
            QVERIFY2(outcome.shown.first().contains(QStringLiteral("文件或它所在的文件夹是只读的")),
                qPrintable(outcome.shown.first()));
        }
        QCOMPARE(fingerprint(home->dbPath()), before);
    }

    // The file turns read-only while the window is open: "完成" fails, keeps every pending line, and can be
    // pressed again once the file is writable, storing each line once.
    void saveIntoReadOnlyDatabaseKeepsTheLines()
    {
        placeDatabase(used);
        TfrmMain form;
        form.PrepareForUser(kUser);
        form.show();
        QVERIFY(QFile::setPermissions(home->dbPath(), QFileDevice::ReadOwner));
        QAbstractItemModel* list = child<QTreeView>(&form, "ListView1")->model();
        // The typed line is kept in the file at once (the test runs as root, whom the bits do not stop).
        addLine(form, QStringLiteral("毛巾"));
        QCOMPARE(list->rowCount(), 1);
        const QByteArray before = fingerprint(home->dbPath());
        auto* finish = child<QPushButton>(&form, "Button4");
        {
            PermissionsApply apply;
            QTest::mouseClick(finish, Qt::LeftButton);
        }
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(QStringLiteral("只读")), qPrintable(shown.first()));
        QCOMPARE(list->rowCount(), 1);
        QVERIFY(finish->isEnabled());
        QCOMPARE(fingerprint(home->dbPath()), before);

        QVERIFY(QFile::setPermissions(home->dbPath(), kFileBits));
        QTest::mouseClick(finish, Qt::LeftButton);
        QCOMPARE(list->rowCount(), 0);
        MessageBox::takeShownTexts();
        RawDb raw(home->dbPath());
        QCOMPARE(raw.value(QStringLiteral("SELECT COUNT(*) FROM Records")).toLongLong(), 301);
    }

    // Another program damages the file while the window is open: "查看" and "完成" say so and change nothing.
    void databaseDamagedWhileTheWindowIsOpen()
    {
        placeDatabase(used);
        TfrmMain form;
        form.PrepareForUser(kUser);
        form.show();
        addLine(form, QStringLiteral("毛巾"));
        QVERIFY(writeAll(home->dbPath(), used.left(used.size() / 2)));
        const QByteArray before = fingerprint(home->dbPath());

        QTest::mouseClick(child<QPushButton>(&form, "Button4"), Qt::LeftButton);
        QCOMPARE(child<QTreeView>(&form, "ListView1")->model()->rowCount(), 1);
        child<QRadioButton>(&form, "RadioButton2")->setChecked(true);
        QTest::mouseClick(child<QPushButton>(&form, "Button7"), Qt::LeftButton);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 2);
        for (const QString& text : shown)
            QVERIFY2(text.contains(QStringLiteral("”已损坏：")), qPrintable(text));
        QCOMPARE(fingerprint(home->dbPath()), before);
    }

    // The first start cannot copy the template (here a folder it may not write to, as a full disk would): the
    // message says that the copy failed and why, and no file, whole or cut off, is left behind.
    void templateCopyFails()
    {
        QVERIFY(QDir().mkpath(home->dataDir()));
        QVERIFY(QFile::setPermissions(home->dataDir(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        {
            PermissionsApply apply;
            const StartOutcome outcome = startProgram();
            QCOMPARE(outcome.result, TfrmMain::CreateResult::Failed);
            QCOMPARE(outcome.shown.size(), 1);
            QVERIFY2(outcome.shown.first().startsWith(QStringLiteral("无法从空数据库“%1”新建数据库文件“%2”：")
                                                          .arg(TDbMan::templatePath(), home->dbPath())),
                qPrintable(outcome.shown.first()));
            QVERIFY2(outcome.shown.first().contains(QStringLiteral("ermission")), qPrintable(outcome.shown.first()));
        }
        QFile::setPermissions(home->dataDir(), kFolderBits);
        QCOMPARE(
            QDir(home->dataDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // A copy of a small program in a folder without db.sjk.new: the start fails with a message and creates no file.
    void missingTemplate()
    {
        QTemporaryDir programDir;
        const QString program = programDir.filePath(QStringLiteral("kivaro-testchild"));
        QVERIFY(QFile::copy(testChildPath(), program));
        QVERIFY(!QFile::exists(programDir.filePath(QStringLiteral("db.sjk.new"))));
        for (int start = 0; start < 2; ++start) {
            ChildProcess child({ QStringLiteral("start") }, program);
            QVERIFY2(child.finishedCleanly(), qPrintable(child.errors()));
            const QString output = child.output();
            QVERIFY2(output.contains(QStringLiteral("message: 找不到数据库文件“%1”，也找不到用来新建它的空数据库“%2”")
                                         .arg(home->dbPath(), programDir.filePath(QStringLiteral("db.sjk.new")))),
                qPrintable(output));
            QCOMPARE(output.count(QStringLiteral("message: ")), 1);
            QVERIFY2(output.endsWith(QStringLiteral("failed\n")), qPrintable(output));
            QVERIFY(!QFile::exists(home->dbPath()));
        }
        // The data folder itself was made, private to the user.
        QCOMPARE(QFileInfo(home->dataDir()).permissions()
                & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
            kFolderBits);
    }

    void dataFolderCannotBeCreated_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("missing folders under a read-only one") << "missing";
        QTest::newRow("base folder is a file") << "base file";
        QTest::newRow("base folder read-only") << "base read-only";
        QTest::newRow("a file named Kivaro") << "data file";
    }

    void dataFolderCannotBeCreated()
    {
        QFETCH(QString, setup);
        QString base = home->base();
        // The first folder that cannot be made is the one named.
        QString failing = base + QStringLiteral("/Kivaro");
        if (setup == QLatin1String("missing")) {
            QVERIFY(QDir().mkdir(base + QStringLiteral("/locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            failing = base + QStringLiteral("/locked/no");
            base += QStringLiteral("/locked/no/such");
        }
        if (setup == QLatin1String("base file")) {
            base += QStringLiteral("/plain.txt");
            QVERIFY(writeAll(base, "not a folder"));
        }
        if (setup == QLatin1String("base read-only")) {
            base += QStringLiteral("/locked");
            QVERIFY(QDir().mkdir(base, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        if (setup == QLatin1String("data file"))
            QVERIFY(writeAll(home->dataDir(), "a file where the data folder belongs"));
        TestDataHome::setBase(base);
        if (setup != QLatin1String("missing"))
            failing = base + QStringLiteral("/Kivaro");
        const QByteArray before = fingerprint(failing);
        {
            PermissionsApply apply;
            expectRefusedStart(QStringLiteral("无法创建数据文件夹“%1”").arg(failing));
        }
        QCOMPARE(fingerprint(failing), before);
        QFile::setPermissions(QFileInfo(failing).absolutePath(), kFolderBits);
    }

    // Files whose content is odd but readable load without a word, as far as they make sense.
    void oddProductsFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("head");
        QTest::addColumn<int>("count");
        QTest::newRow("NUL inside") << toGb18030(QStringLiteral("毛巾\r\n牙刷")) + QByteArray("\0", 1)
                + toGb18030(QStringLiteral("看不见\r\n杯子\r\n"))
                                    << QStringList { QStringLiteral("毛巾"), QStringLiteral("牙刷") } << 2;
        const QByteArray invalid = toGb18030(QStringLiteral("毛巾\r\n"))
            + QByteArray("\x81\x30\r\n\xFF\xFE\xFD\r\n\x80") + QByteArray("\r\n\x81\r\n\x84\x31\xA4")
            + toGb18030(QStringLiteral("\r\n牙刷"));
        QTest::newRow("not GB18030") << invalid << QStringList { QStringLiteral("毛巾") } << 7;
        QByteArray big;
        int lines = 0;
        for (; big.size() < 10 * 1024 * 1024; ++lines)
            big += toGb18030(QStringLiteral("商品%1\r\n").arg(lines, 7, 10, QLatin1Char('0')));
        QTest::newRow("10 MB") << big << QStringList { QStringLiteral("商品0000000"), QStringLiteral("商品0000001") }
                               << lines;
    }

    void oddProductsFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, head);
        QFETCH(int, count);
        placeDatabase(used);
        QVERIFY(writeAll(productsFile(), content));
        const QByteArray before = fingerprint(productsFile());
        TfrmMain form;
        form.PrepareForUser(kUser);
        form.show();
        QCOMPARE(MessageBox::takeShownTexts(), QStringList());
        const QStringList names = productNames(form);
        QCOMPARE(names.size(), count);
        QCOMPARE(names.mid(0, head.size()), head);
        QVERIFY(!names.last().isEmpty());
        QCOMPARE(fingerprint(productsFile()), before);
    }

    // A products file that cannot be read is reported once; the window works, and neither adding lines nor the
    // name editor replaces the names it could not show.
    void productsFileThatCannotBeRead_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("unreadable") << false;
        QTest::newRow("folder in its place") << true;
    }

    void productsFileThatCannotBeRead()
    {
        QFETCH(bool, folder);
        placeDatabase(used);
        if (folder) {
            QVERIFY(QDir().mkpath(productsFile() + QStringLiteral("/inside")));
        } else {
            QVERIFY(writeAll(productsFile(), toGb18030(QStringLiteral("毛巾\r\n牙刷\r\n"))));
            QVERIFY(QFile::setPermissions(productsFile(), {}));
        }
        const QByteArray before = fingerprint(productsFile());
        // Lowered only while the program works, so that the fingerprints still see the bytes.
        std::optional<PermissionsApply> apply;
        apply.emplace();
        TfrmMain form;
        form.PrepareForUser(kUser);
        form.show();
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(QStringLiteral("无法读取品名文件")), qPrintable(shown.first()));

        addLine(form, QStringLiteral("杯子"));
        addLine(form, QStringLiteral("毛巾"));
        QCOMPARE(child<QTreeView>(&form, "ListView1")->model()->rowCount(), 2);
        QCOMPARE(productNames(form), (QStringList { QStringLiteral("毛巾"), QStringLiteral("杯子") }));
        QCOMPARE(MessageBox::takeShownTexts(), QStringList());
        apply.reset();
        QCOMPARE(fingerprint(productsFile()), before);

        apply.emplace();
        QTimer editorWatch;
        editorWatch.setInterval(10);
        QObject::connect(&editorWatch, &QTimer::timeout, [&] {
            QWidget* editor = QApplication::activeModalWidget();
            if (!editor || editor->objectName() != QLatin1String("frmEditName") || !editor->isVisible())
                return;
            editorWatch.stop();
            QTest::mouseClick(child<QPushButton>(editor, "Button1"), Qt::LeftButton);
            if (editor->isVisible())
                static_cast<QDialog*>(editor)->reject();
        });
        editorWatch.start();
        QTest::mouseClick(child<QPushButton>(&form, "Button3"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);
        apply.reset();
        QCOMPARE(fingerprint(productsFile()), before);
    }

    // On a full disk every 添加 still adds its line and the products file keeps its bytes; the user hears of it once,
    // and again only after a write succeeded in between. "确定" in the name editor says so too and stays open.
    void fullDiskKeepsTheProductsFile()
    {
        placeDatabase(used);
        QStringList stored;
        for (int i = 0; i < 300; ++i)
            stored.append(QStringLiteral("商品%1").arg(i));
        // Larger than the limit below, and small enough to sit in a write buffer until the commit.
        QVERIFY(writeAll(productsFile(), encodeProductNames(stored)));
        const QByteArray before = fingerprint(productsFile());
        const QByteArray folder = fingerprint(home->dataDir());
        TfrmMain form;
        form.PrepareForUser(kUser);
        form.show();
        // The number of messages shown since the last call, or -1 when one of them was about something else.
        const auto failuresShown = [] {
            const QStringList shown = MessageBox::takeShownTexts();
            return shown.filter(QStringLiteral("无法保存品名文件")).size() == shown.size() ? shown.size() : -1;
        };
        QAbstractItemModel* list = child<QTreeView>(&form, "ListView1")->model();
        std::optional<FileSizeLimit> full;
        full.emplace(1024);
        // A typed line is kept in the database before it is shown: with the disk full it cannot be, so it is refused
        // in one message and neither file changes.
        addLine(form, QStringLiteral("杯子"));
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);
        QCOMPARE(list->rowCount(), 0);
        QCOMPARE(fingerprint(productsFile()), before);
        QCOMPARE(fingerprint(home->dataDir()), folder);

        bool stayedOpen = false;
        whenDialogShows("frmEditName", [&](QWidget* editor) {
            QTest::mouseClick(child<QPushButton>(editor, "Button1"), Qt::LeftButton);
            stayedOpen = editor->isVisible();
            static_cast<QDialog*>(editor)->reject();
        });
        QTest::mouseClick(child<QPushButton>(&form, "Button3"), Qt::LeftButton);
        QVERIFY(stayedOpen);
        QCOMPARE(failuresShown(), 1);
        QCOMPARE(fingerprint(productsFile()), before);

        full.reset();
        addLine(form, QStringLiteral("牙刷"));
        QCOMPARE(failuresShown(), 0);
        QCOMPARE(readProductNames(productsFile()), QStringList { QStringLiteral("牙刷") } + stored);
        QCOMPARE(list->rowCount(), 1);
    }

    // The one file writer keeps a private file private, writes the file a symbolic link names (the link stays), and
    // refuses a pipe or a device, which a plain file in their place would silently replace.
    void safeFileKeepsTheTargetsKind()
    {
        const QString base = home->base();
        const QString privateFile = base + QStringLiteral("/private.csv");
        QVERIFY(writeAll(privateFile, "old"));
        QVERIFY(QFile::setPermissions(privateFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        SafeFile over(privateFile);
        over.write("new");
        over.commit();
        QCOMPARE(readAll(privateFile), QByteArray("new"));
        const QFileDevice::Permissions others
            = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        QCOMPARE(QFile::permissions(privateFile) & others, QFileDevice::Permissions());

        const QString link = base + QStringLiteral("/link.csv");
        QVERIFY(QFile::link(privateFile, link));
        SafeFile through(link);
        through.write("through the link");
        through.commit();
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readAll(privateFile), QByteArray("through the link"));

        const QString pipe = base + QStringLiteral("/pipe.csv");
        QCOMPARE(QProcess::execute(QStringLiteral("mkfifo"), { pipe }), 0);
        for (const QString& odd : { pipe, QStringLiteral("/dev/null") }) {
            try {
                SafeFile refused(odd);
                refused.write("x");
                refused.commit();
                QFAIL(qPrintable(QStringLiteral("%1 was replaced").arg(odd)));
            } catch (const KivaroError& error) {
                QVERIFY2(error.text().contains(QStringLiteral("不是普通文件")), qPrintable(error.text()));
            }
            QVERIFY(!QFileInfo(odd).isFile() && QFileInfo(odd).exists());
        }
        // Nothing left beside them.
        QCOMPARE(QDir(base).entryList({ QStringLiteral(".kivaro-*") }, QDir::Files | QDir::Hidden), QStringList());
    }

    // Under a limit on a file's size the program's export says so in words and leaves nothing behind, instead of
    // dying of SIGXFSZ.
    void exportUnderAFileSizeLimit()
    {
        TDbMan db;
        QVERIFY(db.AddUser(kUser, kPassword));
        QList<SalesLine> lines;
        for (int i = 0; i < 2000; ++i)
            lines.append({ 0, QDate(2024, 1, 1 + i % 28), QStringLiteral("毛巾%1").arg(i), 1, 100, 50, QString() });
        addLines(db, kUser, lines);
        const QString file = home->base() + QStringLiteral("/big.csv");
        QProcess process;
        process.start(QStringLiteral("/bin/sh"),
            { QStringLiteral("-c"), QStringLiteral("ulimit -f 8; exec \"$0\" \"$@\""),
                QCoreApplication::applicationDirPath() + QStringLiteral("/kivaro"), QStringLiteral("--export"),
                QStringLiteral("detail"), QStringLiteral("2024-01-01"), QStringLiteral("2024-12-31"), file,
                QStringLiteral("--user"), kUser, QStringLiteral("--password-stdin") });
        process.write(kPassword.toUtf8() + '\n');
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(60'000));
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 1, qPrintable(errors));
        QVERIFY2(errors.contains(QStringLiteral("ulimit")), qPrintable(errors));
        QVERIFY(!QFileInfo::exists(file));
        QCOMPARE(
            QDir(home->base()).entryList({ QStringLiteral(".kivaro-*") }, QDir::Files | QDir::Hidden), QStringList());
    }
};

KIVARO_TEST_MAIN(TestDamagedFiles)
#include "tst_damagedfiles.moc"
