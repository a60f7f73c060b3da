// The jobs folder, importing jobs, and the throttled autosave.

#include <gtest/gtest.h>

#include <filesystem>

#include "FakeSessions.h"
#include "session/Jobs.h"
#include "session/ThrottledSaver.h"
#include "tests/support/TempFolder.h"

TEST(Jobs, FolderListingAndItsMessages)
{
    TempFolder data;
    CJobList jobs = ListJobs(data.Path());
    EXPECT_TRUE(jobs.names.empty());
    EXPECT_EQ(jobs.error, "Jobs folder doesn't exist!");

    std::filesystem::create_directory(data / "jobs");
    WriteFile(data / "jobs/readme.txt", "");
    std::filesystem::create_directory(data / "jobs/folder.tvq");
    EXPECT_EQ(ListJobs(data.Path()).error, "No jobs are defined!");

    WriteFile(data / "jobs/nightly.tvq", "");
    WriteFile(data / "jobs/backup.tvq", "");
    jobs = ListJobs(data.Path());
    EXPECT_EQ(jobs.error, "");
    EXPECT_EQ(jobs.names, (std::vector<std::string>{"backup.tvq", "nightly.tvq"}));
    EXPECT_EQ(JobsFolder(data.Path()), data / "jobs/");
}

TEST(Jobs, ImportingTwiceQueuesTwiceAndSelectsTheLastSession)
{
    TempFolder data;
    const std::string job = data / "job.tvq";
    WriteFile(job, "[a.example]\n0\t/x\t0\t/l\t0\t1\t*\t0\t1\n\n"
                   "[b.example]\n1\t/in\t1\t/nonexistent/src\t0\t9\t*\t0\t1\n\n");
    FakeSessions sessions;
    SiteList sites;
    CSettings settings;
    for (int i = 0; i < 2; ++i) {
        const CQueueLoadResult result = LoadJob(job, sessions, sites, settings);
        EXPECT_EQ(result.entries, 2);
        ASSERT_FALSE(sessions.selected.empty());
        EXPECT_EQ(sessions.selected.back(), &sessions.Find("b.example")->queue);
    }
    EXPECT_EQ(sessions.sessions.size(), 2u);
    EXPECT_EQ(sessions.Find("a.example")->queue.Size(), 2u);
    EXPECT_EQ(sessions.Find("b.example")->queue.Size(), 2u);

    EXPECT_EQ(LoadJob(data / "missing.tvq", sessions, sites, settings).error,
              "Can't open " + data / "missing.tvq" + "!");
}

namespace {

// A clock the test moves by hand.
struct ManualClock {
    std::chrono::steady_clock::time_point now{};
    CThrottledSaver::Clock Function()
    {
        return [this] { return now; };
    }
};

} // namespace

TEST(ThrottledSaver, SavesChangesAtMostOncePerInterval)
{
    using namespace std::chrono_literals;
    ManualClock clock;
    int saves = 0;
    CThrottledSaver saver([&] { ++saves; return true; }, 1s, clock.Function());

    EXPECT_FALSE(saver.Tick());  // nothing changed
    saver.MarkChanged();
    EXPECT_TRUE(saver.Tick());
    EXPECT_EQ(saves, 1);

    saver.MarkChanged();
    saver.MarkChanged();
    clock.now += 500ms;
    EXPECT_FALSE(saver.Tick());  // too soon: the change waits
    EXPECT_TRUE(saver.IsDirty());
    clock.now += 500ms;
    EXPECT_TRUE(saver.Tick());
    EXPECT_EQ(saves, 2);
    clock.now += 10s;
    EXPECT_FALSE(saver.Tick());  // saved already, nothing new

    saver.MarkChanged();
    EXPECT_TRUE(saver.Flush());  // at exit: at once, whatever the interval
    EXPECT_EQ(saves, 3);
    EXPECT_TRUE(saver.Flush());
    EXPECT_EQ(saves, 3);
}

TEST(ThrottledSaver, AFailedSaveKeepsTheChangeForTheNextTry)
{
    using namespace std::chrono_literals;
    ManualClock clock;
    bool succeed = false;
    int attempts = 0;
    CThrottledSaver saver([&] { ++attempts; return succeed; }, 1s, clock.Function());
    saver.MarkChanged();
    EXPECT_FALSE(saver.Tick());
    EXPECT_TRUE(saver.IsDirty());
    succeed = true;
    clock.now += 1s;
    EXPECT_TRUE(saver.Tick());
    EXPECT_FALSE(saver.IsDirty());
    EXPECT_EQ(attempts, 2);
}

TEST(ThrottledSaver, RewritesAutosaveWhenTheQueueChanges)
{
    using namespace std::chrono_literals;
    XdgTempFolder home;
    const std::string dataFolder = home / "data";
    ManualClock clock;
    CSettings settings;
    CTransferQueue queue;
    CThrottledSaver saver([&] { return SaveAutosave(dataFolder, {{"h", &queue}}, settings); }, 1s,
                          clock.Function());
    queue.SetChangeListener([&](const CQueueChange&) { saver.MarkChanged(); });

    auto entry = std::make_unique<CQueueEntry>();
    entry->remotePath = "/a";
    entry->localPath = "/l";
    queue.AddEntry(std::move(entry));
    ASSERT_TRUE(saver.Tick());
    EXPECT_EQ(ReadFile(dataFolder + "/autosave.tvq"), "[h]\n0\t/a\t0\t/l\t0\t0\t*\t0\t1\n\n");

    queue.ClearQueue();
    clock.now += 1s;
    ASSERT_TRUE(saver.Tick());
    EXPECT_EQ(ReadFile(dataFolder + "/autosave.tvq"), "");
}
