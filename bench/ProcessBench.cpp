#include "bench/BenchCases.h"

#include "app/Startup.h"
#include "forms/MainForm.h"

#include <QApplication>
#include <QDateEdit>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const kStartupChild = "--child-startup";
const char* const kMemoryChild = "--child-memory";

QElapsedTimer childClock;

// Watches the first start-up for the login dialog's first paint; once that paint is done it reports the time
// since main() and ends the process.
class LoginShownWatcher : public QObject
{
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->objectName() == QLatin1String("frmLogin")) {
            m_seen = true;
            QTimer::singleShot(0, [] {
                std::printf("shown %lld\n", childClock.nsecsElapsed());
                std::fflush(stdout);
                std::_Exit(0);
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};

void watchLogin()
{
    QCoreApplication::instance()->installEventFilter(new LoginShownWatcher);
}

// kB of a field of /proc/self/status.
qint64 statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The program as a user starts it, up to the login dialog on the screen.
int startupChild(int argc, char** argv)
{
    qAddPreRoutine(watchLogin);
    runKivaro(argc, argv);
    std::fprintf(stderr, "the login dialog was never painted\n");
    return 1;
}

// A fresh process that shows the review page with the given range and reports its peak resident memory.
int memoryChild(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    QApplication app(argc, argv);
    prepareTestApplication();
    const std::unique_ptr<TfrmMain> form = openReviewWindow(QString::fromUtf8(argv[2]));
    child<QDateEdit>(form.get(), "DateTimePicker2")
        ->setDate(QDate::fromString(QString::fromLatin1(argv[3]), Qt::ISODate));
    child<QDateEdit>(form.get(), "DateTimePicker3")
        ->setDate(QDate::fromString(QString::fromLatin1(argv[4]), Qt::ISODate));
    QCoreApplication::processEvents();
    const qint64 before = statusKb("VmHWM:");
    child<QPushButton>(form.get(), "Button7")->click();
    QCoreApplication::processEvents();
    const int rows = child<QTreeView>(form.get(), "ListView2")->model()->rowCount();
    std::printf("rows %d hwm %lld before %lld\n", rows, statusKb("VmHWM:"), before);
    std::fflush(stdout);
    std::_Exit(0);
}

QProcessEnvironment childEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

} // namespace

int runChild(int argc, char** argv)
{
    childClock.start();
    if (argc > 1 && qstrcmp(argv[1], kStartupChild) == 0)
        return startupChild(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], kMemoryChild) == 0)
        return memoryChild(argc, argv);
    return -1;
}

void benchStartup(BenchContext& context)
{
    TestDataHome home(context.data.file);
    const QProcessEnvironment env = childEnvironment();
    std::vector<double> inside;
    const auto run = [&] {
        QProcess child;
        child.setProcessEnvironment(env);
        Stopwatch clock;
        child.start(QCoreApplication::applicationFilePath(), { QString::fromLatin1(kStartupChild) });
        check(child.waitForStarted(10000), QStringLiteral("the start-up child did not start"));
        QByteArray line;
        while (!line.endsWith('\n') && child.waitForReadyRead(30000))
            line += child.readAllStandardOutput();
        const double seconds = clock.seconds();
        child.waitForFinished(30000);
        check(line.startsWith("shown "),
            QStringLiteral("the start-up child reported %1 %2")
                .arg(QString::fromLocal8Bit(line), QString::fromLocal8Bit(child.readAllStandardError())));
        inside.push_back(line.mid(6).trimmed().toLongLong() / 1e9);
        return seconds;
    };
    Result result
        = measure(QStringLiteral("6. start-up: new process to the login dialog painted"), context.config.plan, run);
    result.target = Target::median(0.15);
    result.note = QStringLiteral("child process, offscreen platform, timed from the parent's start of the process; of "
                                 "that, from main() on: %1 ms (median)")
                      .arg(Stats::of(inside).median * 1000, 0, 'f', 1);
    context.results.push_back(result);
}

namespace {

// Peak resident memory of fresh processes that show the review page and click "查看" over the range.
void measureReviewMemory(BenchContext& context, const QString& name, const QString& user, const QDate& first,
    const QDate& last, qint64 lines)
{
    const QProcessEnvironment env = childEnvironment();
    std::vector<double> before;
    const auto run = [&] {
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
            { QString::fromLatin1(kMemoryChild), user, first.toString(Qt::ISODate), last.toString(Qt::ISODate) });
        check(child.waitForFinished(120000), QStringLiteral("the memory child did not finish"));
        const QList<QByteArray> words = child.readAllStandardOutput().trimmed().split(' ');
        check(words.size() == 6 && words[0] == "rows" && words[1].toLongLong() == lines,
            QStringLiteral("the memory child reported %1").arg(QString::fromLocal8Bit(words.join(' '))));
        before.push_back(words[5].toDouble() * 1024);
        return words[3].toDouble() * 1024;
    };
    Result result = measure(name, context.config.slowPlan, run, {}, QStringLiteral("MB"));
    result.target = Target::median(150e6);
    result.note = QStringLiteral("VmHWM of a fresh process; %1 MB before the click")
                      .arg(Stats::of(before).median / 1e6, 0, 'f', 1);
    context.results.push_back(result);
}

} // namespace

void benchPeakMemory(BenchContext& context)
{
    const SalesData& data = context.data;
    TestDataHome home(data.file);
    const QString user = data.users.first();
    const QDate last = data.params.lastDay();
    const QDate first = data.firstDayForLines(user, context.config.reviewLines);
    const qint64 lines = data.countLines(user, first, last);
    measureReviewMemory(
        context, QStringLiteral("7. peak resident memory, %1 detail lines shown").arg(lines), user, first, last, lines);
}

// The same figure for one user's lines over all the years.
void benchBigReviewMemory(BenchContext& context)
{
    DataParams params = context.config.data;
    params.users = 1;
    const SalesData data = SalesData::prepare(params, context.config.cacheDir);
    TestDataHome home(data.file);
    const QString user = data.users.first();
    const qint64 lines = data.countLines(user, params.firstDay(), params.lastDay());
    measureReviewMemory(context,
        QStringLiteral("8d. one user, %1 lines over %2 years: peak resident memory after 查看")
            .arg(lines)
            .arg(params.years),
        user, params.firstDay(), params.lastDay(), lines);
}
