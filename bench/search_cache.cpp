// The offline search over a cache of 100,000 folders holding 1,000,000 names (goal: under
// 5 s). The cache is generated once into the system's temporary folder and kept for
// later runs; delete the folder to generate it again. Run it twice and take the second
// figures, so that both the old and the new walk find the folders in the page cache.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "listing/OfflineSearch.h"
#include "SearchCacheGenerator.h"

namespace fs = std::filesystem;

namespace {

using searchbench::GeneratedCache;

void SearchWholeCache(benchmark::State& state)
{
    const std::string& home = GeneratedCache();
    CPatternSearch pattern;
    if (CompileSearchPattern(pattern, searchbench::kPattern, false).Failed()) {
        state.SkipWithError("pattern does not compile");
        return;
    }
    const std::vector<std::string> sites = CachedSites(home);
    std::size_t folders = 0;
    std::size_t results = 0;
    for (auto _ : state) {
        COfflineSearchWalk walk(home, pattern);
        COfflineSearchWalk::Callbacks callbacks;
        folders = 0;
        callbacks.onFolder = [&folders](const std::string&) { ++folders; };
        std::atomic<bool> stop{false};
        walk.SearchSites(sites, callbacks, stop);
        results = walk.ResultCount();
    }
    state.counters["folders"] = double(folders);
    state.counters["results"] = double(results);
}
// The walk reads ahead on a helper thread: CPU is that of the whole process, time the wall clock.
BENCHMARK(SearchWholeCache)->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime()->UseRealTime();

} // namespace

BENCHMARK_MAIN();
