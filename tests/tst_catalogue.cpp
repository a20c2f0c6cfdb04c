// The products' catalogue: its file format, its changes in one write on either store, and a file of an older layout
// or a crafted backup.

#include "TestUtil.h"

#include "db/Backup.h"
#include "db/Catalogue.h"
#include "db/DbClass.h"
#include "db/LedgerLocation.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Kind = CatalogueChange::Kind;

CatalogueItem item(const QString& name, const QString& code = {}, std::optional<qint64> price = std::nullopt,
    std::optional<qint64> cost = std::nullopt)
{
    return { name, code, price, cost };
}

QString failureOf(const std::function<void()>& work)
{
    try {
        work();
    } catch (const KivaroError& error) {
        return error.text();
    }
    return {};
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { prepareTestApplication(); }

    void fileRowsAreCheckedAndComeBackAsWritten()
    {
        // Columns found by their captions in any order; amounts may be empty; a name's formula guard comes off.
        const CatalogueImport read = parseCatalogueCsv(
            QStringLiteral("单价;品名;条码\r\n3,50;甲;111\r\n;'=乙;\r\n").toUtf8(), QLatin1Char(','));
        QCOMPARE(read.problems, QList<ImportProblem>());
        QCOMPARE(read.items, (QList<CatalogueItem> { item("甲", "111", 350), item("=乙") }));

        const CatalogueImport wrong = parseCatalogueCsv(QStringLiteral("品名,条码,单价,单位成本\n"
                                                                       " ,1,1,1\n"
                                                                       "丙,a b,1,1\n"
                                                                       "丁,9,-1,1\n"
                                                                       "戊,7,1,x\n"
                                                                       "戊,8,1,1\n"
                                                                       "己,9,1,1\n")
                                                            .toUtf8(),
            QLatin1Char('.'));
        QCOMPARE(wrong.rows, 6);
        QStringList problems;
        for (const ImportProblem& problem : wrong.problems)
            problems << QStringLiteral("%1 %2").arg(problem.row).arg(problem.column);
        QCOMPARE(problems, (QStringList { "2 品名", "3 条码", "4 单价", "5 单位成本", "6 品名", "7 条码" }));
        QVERIFY(wrong.problems.at(4).reason.contains(QStringLiteral("第 5 行")));
        // A name or code met twice is wrong in the file, whichever row had another problem besides.
        QVERIFY(wrong.items.isEmpty());

        // Whatever the texts, a written file reads back the same.
        const QList<CatalogueItem> items { item("毛巾 \"大\"", "6901234567892", 1250, 700), item("+1", "", 0),
            item("牙刷,软", "A-1", std::nullopt, kMaxAmountCents) };
        QCOMPARE(parseCatalogueCsv(catalogueCsv(items), QLatin1Char('.')).items, items);

        // A line's amount from the unit's: a return is negative, beyond a line's limit there is none.
        QCOMPARE(amountOfUnits(-3, 1250), std::optional<qint64>(-3750));
        QCOMPARE(amountOfUnits(2, kMaxAmountCents), std::nullopt);
        QCOMPARE(amountOfUnits(std::numeric_limits<qint32>::min(), std::numeric_limits<qint64>::max()), std::nullopt);
    }

    void changesLandTogetherOrNotAtAll()
    {
        TestDataHome home;
        TDbMan db;
        const QString user = QStringLiteral("张三");
        QVERIFY(db.MayChangeCatalogue());
        db.ChangeCatalogue(
            user, { { Kind::Add, item("毛巾", "690", 1250, 700), {} }, { Kind::Add, item("牙刷"), {} } });
        QCOMPARE(db.Catalogue(user), (QList<CatalogueItem> { item("毛巾", "690", 1250, 700), item("牙刷") }));

        const QList<CatalogueItem> before = db.Catalogue(user);
        // The second change is refused: the first, a valid one, is not kept either.
        QVERIFY(failureOf([&] {
            db.ChangeCatalogue(user, { { Kind::Add, item("香皂", "1"), {} }, { Kind::Add, item("梳子", "690"), {} } });
        }).contains(QStringLiteral("条码“690”已经用于商品“毛巾”")));
        QVERIFY(failureOf([&] {
            db.ChangeCatalogue(user, { { Kind::Add, item("牙刷", "2"), {} } });
        }).contains(QStringLiteral("已经有“牙刷”")));
        QVERIFY(failureOf([&] {
            db.ChangeCatalogue(user, { { Kind::Replace, item("梳子"), QStringLiteral("镜子") } });
        }).contains(QStringLiteral("已不在商品资料中")));
        QVERIFY(failureOf([&] {
            db.ChangeCatalogue(user, { { Kind::Remove, item("镜子"), {} } });
        }).contains(QStringLiteral("已不在商品资料中")));
        QVERIFY(failureOf([&] {
            db.ChangeCatalogue(user, { { Kind::Add, item("梳子", "a b"), {} } });
        }).contains(QStringLiteral("扫描枪打不出")));
        QVERIFY(failureOf([&] {
            db.ChangeCatalogue(user, { { Kind::Add, item("梳子", "", -1), {} } });
        }).contains(QStringLiteral("不能是负数")));
        QCOMPARE(db.Catalogue(user), before);

        // A rename keeps the product's code, which it may keep; an import rewrites a product of the same name.
        db.ChangeCatalogue(user,
            { { Kind::Replace, item("大毛巾", "690", 1300, 700), QStringLiteral("毛巾") },
                { Kind::Put, item("牙刷", "2", 300), {} }, { Kind::Put, item("香皂", "3"), {} },
                { Kind::Remove, item("香皂"), {} } });
        QCOMPARE(
            db.Catalogue(user), (QList<CatalogueItem> { item("大毛巾", "690", 1300, 700), item("牙刷", "2", 300) }));
        // A file keeps a catalogue per user; a server one for the shop.
        QCOMPARE(db.Catalogue(QStringLiteral("李四")).size(), testingOnServer() ? 2 : 0);
    }

    void olderFileGetsItAndCraftedOneIsRefused()
    {
        KIVARO_FILE_STORE_ONLY();
        TestDataHome home;
        {
            TDbMan db;
            db.ChangeCatalogue(QStringLiteral("张三"), { { Kind::Add, item("毛巾", "690", 1250), {} } });
        }
        const QString backup = home.base() + QStringLiteral("/backup.sjk");
        backupLedger(LedgerLocation::fileAt(home.dbPath()), backup);
        {
            // A file of the layout before the catalogue, held read-only: nothing to show, a change refused in words.
            RawDb raw(home.dbPath());
            QVERIFY(raw.exec(QStringLiteral("DROP TABLE Catalogue")));
            QVERIFY(raw.exec(QStringLiteral("PRAGMA user_version = 3")));
        }
        QFile::setPermissions(home.dbPath(), QFile::ReadOwner);
        {
            PermissionsApply apply;
            if (!PermissionsApply::refuseWriting(home.dbPath()))
                QSKIP("this system lets the test write there whatever the bits say");
            TDbMan db;
            QCOMPARE(db.Catalogue(QStringLiteral("张三")), QList<CatalogueItem>());
            QVERIFY(failureOf([&] {
                db.ChangeCatalogue(QStringLiteral("张三"), { { Kind::Add, item("甲"), {} } });
            }).contains(QStringLiteral("是旧版本的")));
        }
        // Writable again, it is given the catalogue at its first opening.
        QFile::setPermissions(home.dbPath(), QFile::ReadOwner | QFile::WriteOwner);
        {
            TDbMan db;
            db.ChangeCatalogue(QStringLiteral("张三"), { { Kind::Add, item("甲"), {} } });
            QCOMPARE(db.Catalogue(QStringLiteral("张三")), QList<CatalogueItem> { item("甲") });
        }
        // A backup whose catalogue holds what the program cannot have written is refused, the ledger untouched.
        {
            RawDb raw(backup);
            QVERIFY(raw.exec(QStringLiteral("UPDATE Catalogue SET Price = -5")));
        }
        const QString refusal
            = failureOf([&] { restoreLedger(LedgerLocation::fileAt(home.dbPath()), backup, home.base()); });
        QVERIFY2(refusal.contains(QStringLiteral("Catalogue")), qPrintable(refusal));
        QCOMPARE(TDbMan().Catalogue(QStringLiteral("张三")), QList<CatalogueItem> { item("甲") });
    }
};

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
