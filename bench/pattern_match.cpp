// Whole-name matching over 1,000,000 generated file names: the pattern engine against
// std::regex_match with the equivalent expression. Prints the speed ratio per pattern.

#include "listing/pattern/PatternSearch.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kNameCount = 1000000;

const std::vector<std::string>& Names()
{
    static const std::vector<std::string> names = [] {
        const char* stems[] = {"report", "data", "IMG_", "backup", "notes", "setup", "readme",
                               "index", "photo", "track"};
        const char* extensions[] = {".txt", ".TXT", ".csv", ".jpg", ".tar.gz", ".txt.bak",
                                    ".html", "", ".log", ".exe"};
        std::mt19937 random(20261209);
        std::vector<std::string> out;
        out.reserve(kNameCount);
        for (std::size_t i = 0; i < kNameCount; ++i) {
            std::string name = stems[random() % 10];
            if (random() % 2)
                name += "_" + std::to_string(random() % 100000);
            if (random() % 4 == 0)
                name += "-final copy";
            name += extensions[random() % 10];
            out.push_back(std::move(name));
        }
        return out;
    }();
    return names;
}

struct PatternPair {
    const char* label;
    const char* ours;
    const char* standard;
};

// The first is what the offline search makes of the wildcard "*.txt".
const PatternPair kPatterns[] = {
    {"wildcard", R"(.*\.txt)", R"(.*\.txt)"},
    {"expression", R"((report|data)(_[0-9]+)?(\.(txt|csv))\i)",
     R"((report|data)(_[0-9]+)?\.([tT][xX][tT]|[cC][sS][vV]))"},
};

void BM_PatternSearch(benchmark::State& state)
{
    const PatternPair& pair = kPatterns[state.range(0)];
    CPatternSearch search(0);
    if (search.Compile(pair.ours).Failed()) {
        state.SkipWithError(search.LastError().message.c_str());
        return;
    }
    std::size_t matches = 0;
    for (auto _ : state) {
        matches = 0;
        for (const std::string& name : Names())
            matches += search.Match(name);
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches"] = static_cast<double>(matches);
    state.SetLabel(pair.label);
}

void BM_StdRegexMatch(benchmark::State& state)
{
    const PatternPair& pair = kPatterns[state.range(0)];
    const std::regex standard(pair.standard);
    std::size_t matches = 0;
    for (auto _ : state) {
        matches = 0;
        for (const std::string& name : Names())
            matches += std::regex_match(name, standard);
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches"] = static_cast<double>(matches);
    state.SetLabel(pair.label);
}

BENCHMARK(BM_PatternSearch)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdRegexMatch)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(2);

// Keeps the time per iteration of every run, so main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            seconds[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Names(); // generate outside the timed loops
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (int i = 0; i < 2; ++i) {
        const auto ours = reporter.seconds.find("BM_PatternSearch/" + std::to_string(i));
        const auto standard = reporter.seconds.find(
            "BM_StdRegexMatch/" + std::to_string(i) + "/iterations:2");
        if (ours == reporter.seconds.end() || standard == reporter.seconds.end() ||
            ours->second <= 0)
            continue;
        std::printf("%s: CPatternSearch is %.1fx faster than std::regex_match (goal 10x)\n",
                    kPatterns[i].label, standard->second / ours->second);
    }
    benchmark::Shutdown();
    return 0;
}
