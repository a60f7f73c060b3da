// bench_ui_startup [SITES] [ENTRIES]: time from the start of the application object to
// the first shown main window, with SITES stored sites (default 1,000) and an
// "autosave.tvq" of ENTRIES queue entries (default 10,000) spread over 10 hosts, in
// temporary data and settings folders; and the peak memory of that start. Goal: < 0.5 s.

#include "app/gui/TollvaneApplication.h"
#include "session/QueueEntry.h"
#include "session/QueueFiles.h"
#include "session/TransferQueue.h"
#include "sites/MemorySettingsStore.h"
#include "sites/SiteFile.h"
#include "ui/MainFrame.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int siteCount = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int entryCount = argc > 2 ? std::atoi(argv[2]) : 10000;
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    const std::string data = home.path().toStdString() + "/Tollvane/";
    QDir().mkpath(QString::fromStdString(data));

    SiteList sites;
    for (int i = 0; i < siteCount; ++i) {
        auto site = std::make_unique<CSiteSetting>();
        site->name = "Site " + std::to_string(i);
        site->address = "host" + std::to_string(i) + ".example.org";
        sites.push_back(std::move(site));
    }
    SaveSiteFile(data + "site.dat", sites);
    constexpr int kHosts = 10;
    std::vector<std::unique_ptr<CTransferQueue>> queues;
    std::vector<CQueueSection> sections;
    for (int h = 0; h < kHosts; ++h) {
        queues.push_back(std::make_unique<CTransferQueue>());
        for (int i = h; i < entryCount; i += kHosts) {
            auto entry = std::make_unique<CQueueEntry>();
            entry->remotePath = "/pub/folder" + std::to_string(i % 97) + "/file" + std::to_string(i) + ".bin";
            entry->localPath = "/home/user/Downloads";
            entry->sizeLow = static_cast<std::uint32_t>(i * 1000);
            queues.back()->Append(std::move(entry));
        }
        sections.push_back({"host" + std::to_string(h) + ".example.org", queues.back().get()});
    }
    SaveQueues(sections, data + kAutosaveFileName);
    queues.clear();

    QElapsedTimer timer;
    timer.start();
    QApplication app(argc, argv);
    MemorySettingsStore store;
    TollvaneApplication::Options options;
    options.askQuestions = false;
    options.startup.notifyFileTypes = false;
    options.startup.installCrashHandler = false;
    TollvaneApplication tollvane(store, options);
    if (tollvane.start({}).has_value())
        return 1;
    while (!tollvane.mainFrame()->isVisible())
        QApplication::processEvents();
    QApplication::processEvents(); // the first paint
    const double seconds = timer.elapsed() / 1000.0;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("start-up to the first shown window: %.3f s with %d sites and %d queue entries "
                "(goal: < 0.5 s); peak memory %.1f MiB\n",
                seconds, siteCount, entryCount, usage.ru_maxrss / 1024.0);
    return seconds < 0.5 ? 0 : 1;
}
