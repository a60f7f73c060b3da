// Reading a local folder of 100,000 files for the local pane (goal: well under a second
// with a warm cache), with and without a wildcard filter.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "listing/LocalFolder.h"

namespace {

// One folder for the whole run, removed at exit.
const std::string& FolderOfManyFiles()
{
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tollvane-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        char name[64];
        for (int i = 0; i < 100000; ++i) {
            std::snprintf(name, sizeof name, "/file_%06d.%s", i, i % 10 == 0 ? "txt" : "dat");
            const int fd = ::open((pattern + name).c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0)
                ::close(fd);
        }
        std::atexit([] { std::filesystem::remove_all(FolderOfManyFiles()); });
        return pattern;
    }();
    return folder;
}

void BM_ReadLocalFolder(benchmark::State& state, const char* filter)
{
    const std::string& folder = FolderOfManyFiles();
    for (auto _ : state) {
        LocalFolderListing listing = ReadLocalFolder(folder, filter);
        benchmark::DoNotOptimize(listing.entries.data());
    }
}
BENCHMARK_CAPTURE(BM_ReadLocalFolder, all, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadLocalFolder, filtered, "*.txt")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
