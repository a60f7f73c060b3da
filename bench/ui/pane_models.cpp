// The file panes with 100,000 entries: a received listing to the sorted pane on screen
// (goal under 1 s), re-sorting by another column (goal under 0.3 s), scrolling a page, and
// a local folder of 100,000 files to the sorted pane (goal under 1 s), and the icon and
// list styles over the same rows. Run offscreen:
//   QT_QPA_PLATFORM=offscreen build/bench/bench_pane_models

#include <benchmark/benchmark.h>

#include "listing/LocalFolder.h"
#include "ui/FileTableView.h"
#include "ui/LocalFileModel.h"
#include "ui/PaneIconView.h"
#include "ui/RemoteFileModel.h"

#include <QApplication>
#include <QScrollBar>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int kEntries = 100000;

const std::string& ListingOfManyEntries()
{
    static const std::string text = [] {
        std::string listing;
        char line[160];
        const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        for (int i = 0; i < kEntries; ++i) {
            const bool folder = i % 20 == 0;
            std::snprintf(line, sizeof line, "%s   1 user group %12llu %s %2d  2021 %s_%06d%s\r\n",
                          folder ? "drwxr-xr-x" : "-rw-r--r--",
                          folder ? 4096ULL : (unsigned long long)((i * 7919ULL) % 6000000000ULL), months[i % 12],
                          1 + i % 28, folder ? "Folder" : "file", (i * 37) % kEntries,
                          folder ? "" : (i % 3 ? ".dat" : ".TXT"));
            listing += line;
        }
        return listing;
    }();
    return text;
}

const std::string& FolderOfManyFiles()
{
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tollvane-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        char name[64];
        for (int i = 0; i < kEntries; ++i) {
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

void BM_RemoteListingToSortedPane(benchmark::State& state)
{
    const std::string& listing = ListingOfManyEntries();
    RemoteFileModel model;
    PaneViewEvents events;
    FileTableView view(events);
    view.setModel(&model);
    view.resize(900, 600);
    view.show();
    for (auto _ : state) {
        model.receiveListing("/big", listing);
        QApplication::processEvents();
        view.repaint();
    }
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_RemoteListingToSortedPane)->Unit(benchmark::kMillisecond)->Iterations(5);

// The icon and list styles over the same 100,000 rows: a received listing to the first
// page drawn (the layout goes on in batches behind it), then one page scrolled.
void BM_RemoteListingToIconStyle(benchmark::State& state)
{
    const std::string& listing = ListingOfManyEntries();
    RemoteFileModel model;
    PaneViewEvents events;
    PaneIconView view(events);
    view.setViewStyle(PaneViewStyle(state.range(0)));
    view.setModel(&model);
    view.resize(900, 600);
    view.show();
    for (auto _ : state) {
        model.receiveListing("/big", listing);
        QApplication::processEvents();
        view.repaint();
    }
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_RemoteListingToIconStyle)
    ->Arg(int(PaneViewStyle::LargeIcons))
    ->Arg(int(PaneViewStyle::List))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_ResortByColumn(benchmark::State& state)
{
    RemoteFileModel model;
    model.receiveListing("/big", ListingOfManyEntries());
    const int column = int(state.range(0));
    bool ascending = false;
    for (auto _ : state) {
        model.sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
        ascending = !ascending;
    }
}
BENCHMARK(BM_ResortByColumn)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(6);

void BM_ScrollOnePage(benchmark::State& state)
{
    RemoteFileModel model;
    model.receiveListing("/big", ListingOfManyEntries());
    PaneViewEvents events;
    FileTableView view(events);
    view.setModel(&model);
    view.resize(900, 600);
    view.show();
    QScrollBar* bar = view.verticalScrollBar();
    for (auto _ : state) {
        bar->setValue((bar->value() + bar->pageStep()) % (bar->maximum() + 1));
        view.repaint();
    }
}
BENCHMARK(BM_ScrollOnePage)->Unit(benchmark::kMillisecond);

void BM_LocalFolderToSortedPane(benchmark::State& state)
{
    const std::string& folder = FolderOfManyFiles();
    LocalFileModel model;
    PaneViewEvents events;
    FileTableView view(events);
    view.setModel(&model);
    view.resize(900, 600);
    view.show();
    for (auto _ : state) {
        LocalFolderListing listing = ReadLocalFolder(folder);
        model.setEntries(folder, std::move(listing.entries));
        QApplication::processEvents();
        view.repaint();
    }
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_LocalFolderToSortedPane)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
