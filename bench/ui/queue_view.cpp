// The queue view with a queue of 100,000 entries (a tree of 100,000 small files queued at
// once): how long until the view shows it, the longest frame while scrolling through it,
// the UI thread's longest stall while a run takes entries off the top and the user queues
// more, and the process's memory before, with, and after such a queue.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_queue_view [entries]

#include "session/FtpSession.h"
#include "ui/OpenSession.h"
#include "ui/QueueModel.h"
#include "ui/QueueView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <span>
#include <string>
#include <vector>

namespace {

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

std::unique_ptr<CQueueEntry> Entry(int i)
{
    auto entry = std::make_unique<CQueueEntry>();
    entry->remotePath = "/pub/tree/folder" + std::to_string(i / 100) + "/file" + std::to_string(i) + ".txt";
    entry->localPath = "/home/user/Downloads/tree/folder" + std::to_string(i / 100);
    entry->SetSize(std::uint64_t(i % 5000));
    return entry;
}

// CPU time of this thread: what the UI thread spends, whatever else the machine runs.
qint64 ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    CSharedSettings settings;
    CSiteSetting site;
    site.address = "bench.example.test";
    OpenSession session(settings, site, TransferLogSinks{});
    const long before = ResidentKiB();
    for (int i = 0; i < count; ++i)
        session.session().Queue().Append(Entry(i));
    const long queued = ResidentKiB();

    QueueView view;
    view.resize(900, 300);
    view.show();
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    qint64 cpu = ThreadCpuMs();
    view.setSession(&session);
    view.viewport()->repaint();
    QApplication::processEvents();
    const qint64 showMs = clock.elapsed();
    const qint64 showCpuMs = ThreadCpuMs() - cpu;
    const long shown = ResidentKiB();

    // Scrolling: page by page through the first part, then jumps across the whole list.
    qint64 worstFrame = 0;
    qint64 worstFrameCpu = 0;
    QScrollBar* bar = view.verticalScrollBar();
    for (int step = 0; step < 200; ++step) {
        clock.restart();
        cpu = ThreadCpuMs();
        bar->setValue(step < 100 ? bar->value() + bar->pageStep() : bar->maximum() * (step - 100) / 100);
        view.viewport()->repaint();
        worstFrame = std::max(worstFrame, clock.elapsed());
        worstFrameCpu = std::max(worstFrameCpu, ThreadCpuMs() - cpu);
    }

    // A running queue: entries leave at the top (files done), a few are queued at the end,
    // while a selection is kept; the view refreshes as the queue's change reports come.
    view.selectEntries({view.queueModel()->entryAt(500), view.queueModel()->entryAt(501)});
    qint64 worstRefresh = 0;
    qint64 totalRefresh = 0;
    qint64 worstRefreshCpu = 0;
    qint64 totalRefreshCpu = 0;
    const int rounds = 200;
    long early = 0;
    for (int round = 0; round < rounds; ++round) {
        if (round == 20)
            early = ResidentKiB();
        const std::vector<QueueEntryId> ids = session.session().Queue().Ids();
        session.session().Queue().Remove(std::span(ids.data(), std::min<std::size_t>(10, ids.size())));
        session.session().Queue().Append(Entry(count + round));
        clock.restart();
        cpu = ThreadCpuMs();
        view.queueModel()->refresh();
        view.viewport()->repaint();
        const qint64 took = clock.elapsed();
        const qint64 tookCpu = ThreadCpuMs() - cpu;
        worstRefresh = std::max(worstRefresh, took);
        totalRefresh += took;
        worstRefreshCpu = std::max(worstRefreshCpu, tookCpu);
        totalRefreshCpu += tookCpu;
    }
    const long running = ResidentKiB();

    std::printf("entries                       %d\n", count);
    std::printf("(wall clock; UI thread CPU time in brackets: the machine may be shared)\n");
    std::printf("view shows the queue          %lld ms [%lld ms]\n", static_cast<long long>(showMs),
                static_cast<long long>(showCpuMs));
    std::printf("longest scroll frame          %lld ms [%lld ms]\n", static_cast<long long>(worstFrame),
                static_cast<long long>(worstFrameCpu));
    std::printf("longest refresh while running %lld ms [%lld ms] (mean %.1f ms [%.1f ms] over %d refreshes)\n",
                static_cast<long long>(worstRefresh), static_cast<long long>(worstRefreshCpu),
                double(totalRefresh) / rounds, double(totalRefreshCpu) / rounds, rounds);
    std::printf("memory: queue %ld KiB, view rows %ld KiB; while the run works through it: %+ld KiB "
                "after 20 refreshes, %+ld KiB more over the next %d\n",
                queued - before, shown - queued, early - shown, running - early, rounds - 20);
    view.setSession(nullptr);
    return 0;
}
