// The offline search dialog over the generated cache of 1,000,000 names (see
// SearchCacheGenerator.h), on Qt's offscreen platform, against the walk as the command
// line runs it (every URL printed, here to /dev/null). Goals: the first result on screen
// in under 0.2 s, the whole search within 1.2 times the command line's time, and no stall
// of the window thread over 50 ms. Two patterns: the benchmarks' usual one (a few tens of
// thousands of results) and "*" (every name a result).
//
// Run it twice and take the second figures, so the folders are in the page cache.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <string>

#include "../SearchCacheGenerator.h"
#include "listing/OfflineSearch.h"
#include "ui/OfflineSearchDialog.h"

namespace {

const char* PatternOf(const benchmark::State& state)
{
    return state.range(0) == 0 ? searchbench::kPattern : "*";
}

void CommandLineWalk(benchmark::State& state)
{
    const std::string& home = searchbench::GeneratedCache();
    CPatternSearch pattern;
    CompileSearchPattern(pattern, PatternOf(state), false);
    const std::vector<std::string> sites = CachedSites(home);
    FILE* out = std::fopen("/dev/null", "w");
    std::size_t results = 0;
    for (auto _ : state) {
        COfflineSearchWalk walk(home, pattern);
        COfflineSearchWalk::Callbacks callbacks;
        callbacks.onResult = [out](const std::string& url) { std::fprintf(out, "%s\n", url.c_str()); };
        const std::atomic<bool> stop{false};
        walk.SearchSites(sites, callbacks, stop);
        results = walk.ResultCount();
    }
    std::fclose(out);
    state.counters["results"] = double(results);
}

void Dialog(benchmark::State& state)
{
    const std::string& home = searchbench::GeneratedCache();
    double firstResultMs = 0;
    double longestStallMs = 0;
    int results = 0;
    for (auto _ : state) {
        OfflineSearchDialog dialog(home);
        dialog.show();
        dialog.moveAllToSearch();
        dialog.findChild<QLineEdit*>("searchPattern")->setText(QString::fromLatin1(PatternOf(state)));
        QApplication::processEvents();

        QElapsedTimer clock;
        qint64 firstResult = -1;
        qint64 lastTick = 0;
        qint64 longestGap = 0;
        QObject::connect(&dialog.results(), &QAbstractItemModel::rowsInserted, &dialog, [&] {
            if (firstResult < 0)
                firstResult = clock.nsecsElapsed();
        });
        // A 1 ms timer: the longest time between two of its ticks is the longest the
        // window thread was busy with something else.
        QEventLoop loop;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, &dialog, [&] {
            const qint64 now = clock.nsecsElapsed();
            longestGap = std::max(longestGap, now - lastTick);
            lastTick = now;
            if (dialog.state() == OfflineSearchDialog::State::Idle)
                loop.quit();
        });
        clock.start();
        dialog.searchOrStop();
        ticker.start();
        loop.exec();
        const double totalMs = clock.nsecsElapsed() / 1e6;
        state.SetIterationTime(totalMs / 1000.0);
        firstResultMs = firstResult / 1e6;
        longestStallMs = longestGap / 1e6;
        results = dialog.results().rowCount();
    }
    state.counters["first_result_ms"] = firstResultMs;
    state.counters["longest_stall_ms"] = longestStallMs;
    state.counters["results"] = double(results);
}

BENCHMARK(CommandLineWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(Dialog)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
