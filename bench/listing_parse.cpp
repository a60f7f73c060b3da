// Parsing a listing of 1,000,000 Unix lines (goal: well under a second). The listing mixes
// recent entries (time of day, no year) and old ones (a year), files and directories,
// links and sizes beyond 4 GiB, as a big mirror directory would list them.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "listing/ListingParser.h"

namespace {

const std::string& MillionLineListing()
{
    static const std::string text = [] {
        static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        std::mt19937_64 random(42);
        std::string listing = "total 1000000\r\n";
        listing.reserve(80u * 1000000u);
        char line[160];
        for (int i = 0; i < 1000000; ++i) {
            const unsigned kind = random() % 10;
            const char* permissions = kind == 0 ? "drwxr-xr-x" : kind == 1 ? "lrwxrwxrwx" : "-rw-r--r--";
            const unsigned long long size = random() % (kind == 2 ? 8000000000ull : 5000000ull);
            const char* month = kMonths[random() % 12];
            const unsigned day = 1 + random() % 28;
            char when[16];
            if (random() % 3 == 0)
                std::snprintf(when, sizeof when, "%02u:%02u", unsigned(random() % 24), unsigned(random() % 60));
            else
                std::snprintf(when, sizeof when, " %u", 1995 + unsigned(random() % 30));
            std::snprintf(line, sizeof line, "%s %3u %-8s %-8s %12llu %s %2u %5s %s_%07d%s\r\n", permissions,
                          1 + unsigned(random() % 9), "mirror", "users", size, month, day, when,
                          kind == 0 ? "directory" : "file", i, kind == 1 ? " -> ../target" : ".dat");
            listing += line;
        }
        return listing;
    }();
    return text;
}

void ParseMillionLineListing(benchmark::State& state)
{
    const std::string& text = MillionLineListing();
    for (auto _ : state) {
        RFILE_LIST list;
        ParseListing(text, list);
        benchmark::DoNotOptimize(list.size());
        if (list.size() != 1000000)
            state.SkipWithError("not every line was accepted");
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
    state.SetBytesProcessed(state.iterations() * int64_t(text.size()));
}
BENCHMARK(ParseMillionLineListing)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
