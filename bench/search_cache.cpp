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

namespace fs = std::filesystem;

namespace {

constexpr int kSites = 4;
constexpr int kFoldersPerSite = 25000;
constexpr int kNamesPerFolder = 10;

// Each site is a tree in which folder i has the subfolders 3i+1 to 3i+3; every folder
// lists ten names, its subdirectories among them.
std::string FolderPath(const std::string& site, int folder)
{
    std::vector<int> chain;
    for (int i = folder; i > 0; i = (i - 1) / 3)
        chain.push_back(i);
    std::string path = site;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        path += "/dir_" + std::to_string(*it);
    return path;
}

std::string ListingOf(int folder)
{
    std::string text;
    char line[128];
    int names = 0;
    for (int child = 3 * folder + 1; child <= 3 * folder + 3 && child < kFoldersPerSite; ++child, ++names) {
        std::snprintf(line, sizeof line, "drwxr-xr-x   2 mirror   users        4096 Mar  3  2015 dir_%d\r\n", child);
        text += line;
    }
    for (; names < kNamesPerFolder; ++names) {
        std::snprintf(line, sizeof line, "-rw-r--r--   1 mirror   users    %8d Jan 15 10:30 file_%d_%d.%s\r\n",
                      folder * 7 + names, folder, names, names % 2 ? "txt" : "dat");
        text += line;
    }
    return text;
}

const std::string& GeneratedCache()
{
    static const std::string home = [] {
        const fs::path root = fs::temp_directory_path() / "tollvane-bench-search-cache";
        const fs::path done = root.string() + ".complete";
        if (!fs::exists(done)) {
            fs::remove_all(root);
            for (int site = 0; site < kSites; ++site) {
                const std::string siteName = "site" + std::to_string(site) + ".example.com";
                for (int folder = 0; folder < kFoldersPerSite; ++folder) {
                    const fs::path path = root / FolderPath(siteName, folder);
                    fs::create_directories(path);
                    std::ofstream(path / "files.lis", std::ios::binary) << ListingOf(folder);
                }
            }
            std::ofstream(done) << "generated\n";
        }
        return root.string();
    }();
    return home;
}

void SearchWholeCache(benchmark::State& state)
{
    const std::string& home = GeneratedCache();
    CPatternSearch pattern;
    if (CompileSearchPattern(pattern, "file_*7_?.txt", false).Failed()) {
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
