#pragma once

#include "bench/Measure.h"
#include "bench/SalesData.h"
#include "bench/ServerData.h"
#include "tests/TestUtil.h"

#include <QString>
#include <optional>
#include <vector>

// Sizes of one benchmark run. The full run uses the sizes the targets speak of; the quick run only shows that
// every measurement still works.
struct BenchConfig
{
    bool quick = false;
    RunPlan plan;
    // Runs of the measurements that take seconds each.
    RunPlan slowPlan;
    DataParams data;
    qint64 reviewLines = 100'000;
    int saveLines = 10'000;
    int addLines = 1'000;
    int productsFileNames = 5'000;
    int reportRows = 10'000;
    int reportPages = 213;
    qint64 reportMemoryRows = 100'000;
    // Lines the pending list holds before 添加.
    int keptLines = 1'000;
    qint64 importRows = 100'000;
    int importProducts = 2'000;
    QString cacheDir;
    // The server cases' database; empty means one named after the data's size.
    QString serverDatabase;

    static BenchConfig full();
    static BenchConfig quickRun();
};

struct BenchContext
{
    BenchConfig config;
    SalesData data;
    std::vector<Result> results;
    // Why the server cases do not run; empty when they do, on the server libpq's environment names.
    QString serverSkipped;
    std::optional<ServerData> server;
};

class TfrmMain;

// The totals line of the user's lines in a range of the file, summed by the engine.
QString storedTotals(const QString& path, const QString& user, const QDate& first, const QDate& last);
// Clicks "查看" over a range on the review page; returns the seconds until the click and what it left for the event
// loop (the view's layout, the repaint) are done, which is what the user waits for.
double timedQuery(TfrmMain& form, const QDate& first, const QDate& last);

void benchQueryReport(BenchContext& context);
void benchReviewPage(BenchContext& context);
void benchSavePending(BenchContext& context);
void benchAddLine(BenchContext& context);
void benchReport(BenchContext& context);
void benchReportMemory(BenchContext& context);
void benchStartup(BenchContext& context);
void benchPeakMemory(BenchContext& context);
void benchBigReview(BenchContext& context);
void benchBigReviewMemory(BenchContext& context);
void benchBackup(BenchContext& context);
void benchRestore(BenchContext& context);
void benchExportXlsx(BenchContext& context);
void benchExportCsv(BenchContext& context);
void benchImportCsv(BenchContext& context);
void benchChartPage(BenchContext& context);
void benchAddKept(BenchContext& context);
void benchScanAtTill(BenchContext& context);
void benchSaveKept(BenchContext& context);
void benchServerQueries(BenchContext& context);
void benchServerSave(BenchContext& context);
void benchServerReview(BenchContext& context);
void benchServerRowSecurity(BenchContext& context);
void benchServerShopReview(BenchContext& context);
void benchOutboxSend(BenchContext& context);
void benchEightTills(BenchContext& context);
void benchServerRanking(BenchContext& context);
void benchServerFind(BenchContext& context);

// The child processes the parent starts for the start-up and memory figures; returns the exit code.
int runChild(int argc, char** argv);
// The child process of the report memory figure; -1 when this process is not one.
int runReportChild(int argc, char** argv);
// The child process of the export and import figures; -1 when this process is not one.
int runFeatureChild(int argc, char** argv);
// A till process of the eight-till figures; -1 when this process is not one.
int runTillsChild(int argc, char** argv);
