// bench_ui_stall [MiB]: does the UI thread stay responsive while a large download runs at
// full speed against vsftpd (started here on 127.0.0.1) and its log streams into the main
// window? A 10 ms timer on the UI thread records how late each of its ticks comes; the
// goal is a longest delay under 50 ms. Default size 1024 MiB (a sparse file on the server).

#include "session/FtpSession.h"
#include "session/QueueEntry.h"
#include "tests/support/FtpServers.h"
#include "ui/MainFrame.h"
#include "ui/OpenSession.h"
#include "ui/SessionList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long long mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const std::uintmax_t bytes = static_cast<std::uintmax_t>(mib) << 20;

    tvtest::VsftpdServer server;
    if (!server.start()) {
        std::fprintf(stderr, "vsftpd did not start: %s\n", server.error().c_str());
        return 1;
    }
    server.createFile("big.bin", "");
    std::filesystem::resize_file(server.localPath("big.bin"), bytes);

    QTemporaryDir home;
    const std::string target = home.path().toStdString();
    CSettings table;
    table.CacheHomeDirectory = target + "/cache";
    table.pOverwrite = 0;
    CSharedSettings settings(table);
    SiteList sites;
    SessionList sessions(settings);
    MainFrame frame({&settings, &sites, &sessions, target + "/"});
    frame.show();

    CSiteSetting site;
    site.address = server.host();
    site.port = server.port();
    site.logintype = 1;
    site.passive = 1;
    OpenSession* open = sessions.add(site);
    auto entry = std::make_unique<CQueueEntry>();
    entry->operation = QUEUE_DOWNLOAD;
    entry->remotePath = "/big.bin";
    entry->localPath = target;
    entry->sizeHigh = static_cast<std::uint32_t>(bytes >> 32);
    entry->sizeLow = static_cast<std::uint32_t>(bytes);
    open->session().Queue().Append(std::move(entry));
    sessions.setActive(open);

    std::vector<qint64> delays;
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        delays.push_back(std::max<qint64>(0, sinceTick.elapsed() - 10));
        sinceTick.restart();
    });
    // The same timer for 3 s with nothing running: how late it comes on this machine anyway.
    sinceTick.start();
    probe.start();
    QTimer::singleShot(3000, &app, &QApplication::quit);
    app.exec();
    probe.stop();
    std::vector<qint64> idle = std::move(delays);
    delays.clear();
    std::sort(idle.begin(), idle.end());
    QElapsedTimer total;
    total.start();
    sinceTick.start();
    probe.start();
    open->session().StartQueue();

    const std::string local = target + "/big.bin";
    QTimer done;
    done.setInterval(100);
    QObject::connect(&done, &QTimer::timeout, [&] {
        std::error_code error;
        const bool complete = open->session().Queue().IsEmpty() && std::filesystem::file_size(local, error) == bytes;
        if (complete || total.elapsed() > 600000)
            app.quit();
    });
    done.start();
    app.exec();
    const double seconds = total.elapsed() / 1000.0;
    probe.stop();
    std::error_code error;
    const bool complete = std::filesystem::file_size(local, error) == bytes;
    sessions.clear();

    std::sort(delays.begin(), delays.end());
    const qint64 longest = delays.empty() ? 0 : delays.back();
    const qint64 p99 = delays.empty() ? 0 : delays[delays.size() * 99 / 100];
    std::printf("download of %lld MiB %s in %.1f s (%.1f MiB/s)\n", mib, complete ? "complete" : "INCOMPLETE",
                seconds, mib / seconds);
    if (!idle.empty())
        std::printf("10 ms UI timer while idle: %zu ticks, longest delay %lld ms, 99th percentile %lld ms\n",
                    idle.size(), static_cast<long long>(idle.back()),
                    static_cast<long long>(idle[idle.size() * 99 / 100]));
    std::printf("10 ms UI timer during the download: %zu ticks, longest delay %lld ms, 99th percentile %lld ms (goal: longest < 50 ms)\n",
                delays.size(), static_cast<long long>(longest), static_cast<long long>(p99));
    return complete && longest < 50 ? 0 : 1;
}
