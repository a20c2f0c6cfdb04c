#pragma once

#include "bench/Measure.h"
#include "bench/SalesData.h"
#include "tests/TestUtil.h"

#include <QString>
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
    QString cacheDir;

    static BenchConfig full();
    static BenchConfig quickRun();
};

struct BenchContext
{
    BenchConfig config;
    SalesData data;
    std::vector<Result> results;
};

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

// The child processes the parent starts for the start-up and memory figures; returns the exit code.
int runChild(int argc, char** argv);
// The child process of the report memory figure; -1 when this process is not one.
int runReportChild(int argc, char** argv);
