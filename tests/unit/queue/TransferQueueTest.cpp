// The session's queue: adding with replacement, clearing, resetting, the run's take-next,
// the view's commands by identity, and all of it from two threads at once.

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "session/TransferQueue.h"

namespace {

std::unique_ptr<CQueueEntry> Entry(int operation, const std::string& local, const std::string& remote,
                                   int status = STATUS_QUEUED)
{
    auto entry = std::make_unique<CQueueEntry>();
    entry->operation = operation;
    entry->localPath = local;
    entry->remotePath = remote;
    entry->status = status;
    return entry;
}

std::vector<std::string> Remotes(const CTransferQueue& queue)
{
    std::vector<std::string> remotes;
    queue.ForEach([&](const CQueueEntry& entry) { remotes.push_back(entry.remotePath); });
    return remotes;
}

// Entries named "A", "B", ... (their remote paths), appended in that order; a "*" after a
// name marks it transferring. The identities by name.
std::map<std::string, QueueEntryId> Fill(CTransferQueue& queue, const std::vector<std::string>& rows)
{
    std::map<std::string, QueueEntryId> ids;
    for (std::string row : rows) {
        const bool running = row.ends_with("*");
        if (running)
            row.pop_back();
        ids[row] = queue.Append(Entry(QUEUE_DOWNLOAD, "/l", row, running ? STATUS_TRANSFERRING : STATUS_QUEUED));
    }
    return ids;
}

} // namespace

TEST(TransferQueue, AddEntryAppendsOrReplacesTheSameJobInPlace)
{
    CTransferQueue queue;
    EXPECT_EQ(queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/a")), 0);
    EXPECT_EQ(queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/b")), 0);
    EXPECT_EQ(queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/c")), 0);

    auto again = Entry(QUEUE_DOWNLOAD, "/l", "/b");
    again->pattern = "*.new";
    EXPECT_EQ(queue.AddEntry(std::move(again)), -1);
    EXPECT_EQ(Remotes(queue), (std::vector<std::string>{"/a", "/b", "/c"}));
    EXPECT_EQ(queue.FindEntry("/l", "/b", QUEUE_DOWNLOAD)->pattern, "*.new");

    // Not the same job: another operation, another local path, another letter case.
    EXPECT_EQ(queue.AddEntry(Entry(QUEUE_DELETE, "/l", "/a")), 0);
    EXPECT_EQ(queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/m", "/a")), 0);
    EXPECT_EQ(queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/A")), 0);
    EXPECT_EQ(queue.Size(), 6u);
}

TEST(TransferQueue, AnEntryBeingTransferredIsNeverReplacedRemovedEditedOrReset)
{
    CTransferQueue queue;
    const auto ids = Fill(queue, {"/a*", "/b"});
    const QueueEntryId running = ids.at("/a");
    EXPECT_EQ(queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/a")), -1);
    EXPECT_FALSE(queue.Remove(running));
    EXPECT_FALSE(queue.Edit(running, [](CQueueEntry& entry) { entry.pattern = "*.x"; }));
    queue.ResetQueue(true);
    queue.ClearQueue();
    const auto left = queue.Find(running);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->status, STATUS_TRANSFERRING);
    EXPECT_EQ(left->pattern, "*");
    EXPECT_EQ(Remotes(queue), (std::vector<std::string>{"/a"}));
    queue.DestroyAll();
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(TransferQueue, ClearQueueKeepsOnlyTheTransferringEntry)
{
    CTransferQueue queue;
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/a", STATUS_ERROR));
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/b", STATUS_TRANSFERRING));
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/c", STATUS_STOPPED));
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/d"));
    queue.ClearQueue();
    EXPECT_EQ(Remotes(queue), (std::vector<std::string>{"/b"}));
}

TEST(TransferQueue, AppendKeepsDuplicatesUnderTheirOwnIdentity)
{
    CTransferQueue queue;
    const QueueEntryId first = queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/a"));
    const QueueEntryId second = queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/a"));
    EXPECT_EQ(queue.Size(), 2u);
    EXPECT_NE(first, second);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(queue.Ids(), (std::vector<QueueEntryId>{first, second}));
}

TEST(TransferQueue, ResetAndStoppedStates)
{
    CTransferQueue queue;
    EXPECT_TRUE(queue.AllStopped());
    EXPECT_FALSE(queue.HasStoppedEntries());
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/a", STATUS_ERROR));
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/b", STATUS_STOPPED));
    EXPECT_TRUE(queue.HasStoppedEntries());
    EXPECT_FALSE(queue.AllStopped());

    queue.ResetQueue(false);
    EXPECT_EQ(queue.FindEntry("/l", "/a", 0)->status, STATUS_QUEUED);
    EXPECT_EQ(queue.FindEntry("/l", "/b", 0)->status, STATUS_STOPPED);
    queue.ResetQueue(true);
    EXPECT_EQ(queue.FindEntry("/l", "/b", 0)->status, STATUS_QUEUED);
}

TEST(TransferQueue, TheRunTakesQueuedEntriesInOrderAndHandsBackTheOutcome)
{
    CTransferQueue queue;
    const auto ids = Fill(queue, {"/a", "/b", "/c"});
    queue.Edit(ids.at("/b"), [](CQueueEntry& entry) { entry.status = STATUS_STOPPED; });  // status is not the editor's

    auto first = queue.BeginNext();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, ids.at("/a"));
    EXPECT_EQ(queue.Find(ids.at("/a"))->status, STATUS_TRANSFERRING);
    // Appended during the run: reached in the same run.
    queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/late"));
    first->expanded = 1;
    first->pending.push_back(CQueueFile{"left.txt"});
    queue.SetAside(*first, STATUS_ERROR);
    const auto setAside = queue.Find(ids.at("/a"));
    EXPECT_EQ(setAside->status, STATUS_ERROR);
    EXPECT_EQ(setAside->pending.size(), 1u);
    EXPECT_EQ(setAside->expanded, 1);

    std::vector<std::string> taken;
    while (auto next = queue.BeginNext()) {
        taken.push_back(next->remotePath);
        queue.Complete(next->id);
    }
    EXPECT_EQ(taken, (std::vector<std::string>{"/b", "/c", "/late"}));
    EXPECT_EQ(Remotes(queue), (std::vector<std::string>{"/a"}));  // waits for the next cycle
    queue.ResetQueue(false);
    EXPECT_EQ(queue.BeginNext()->remotePath, "/a");
}

TEST(TransferQueue, EditKeepsIdentityAndPosition)
{
    CTransferQueue queue;
    const auto ids = Fill(queue, {"/a", "/b"});
    EXPECT_TRUE(queue.Edit(ids.at("/b"), [](CQueueEntry& entry) {
        entry.localPath = "/other";
        entry.pattern = "*.txt";
        entry.id = 999;  // ignored
    }));
    EXPECT_EQ(queue.IndexOf(ids.at("/b")), 1);
    EXPECT_EQ(queue.Find(ids.at("/b"))->pattern, "*.txt");
    EXPECT_FALSE(queue.Edit(999, [](CQueueEntry&) {}));
    EXPECT_EQ(queue.IndexOf(999), -1);
}

TEST(TransferQueue, MovesFollowTheSelectionRules)
{
    struct Case {
        std::vector<std::string> rows;      // "*": transferring
        std::vector<std::string> selected;
        QueueMove how;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{"A", "B", "C", "D"}, {"B", "D"}, QueueMove::Bottom, {"A", "C", "B", "D"}},
        {{"A", "B", "C", "D"}, {"A", "C"}, QueueMove::Top, {"A", "C", "B", "D"}},
        {{"A", "B", "C", "D"}, {"A"}, QueueMove::Up, {"A", "B", "C", "D"}},
        {{"A", "B", "C", "D"}, {"D"}, QueueMove::Down, {"A", "B", "C", "D"}},
        {{"A", "B", "C", "D"}, {"A", "B", "D"}, QueueMove::Up, {"A", "B", "D", "C"}},
        {{"A", "B", "C", "D"}, {"B", "C"}, QueueMove::Up, {"B", "C", "A", "D"}},
        {{"A", "B", "C", "D"}, {"A", "C", "D"}, QueueMove::Down, {"B", "A", "C", "D"}},
        {{"A", "B", "C", "D"}, {"B", "C"}, QueueMove::Down, {"A", "D", "B", "C"}},
        {{"A", "B", "C", "D", "E"}, {"C", "E"}, QueueMove::Top, {"C", "E", "A", "B", "D"}},
        {{"A", "B", "C", "D", "E"}, {"A", "C"}, QueueMove::Bottom, {"B", "D", "E", "A", "C"}},
        // A selected entry that is transferring stays while the others move around it.
        {{"A", "B*", "C"}, {"B", "C"}, QueueMove::Top, {"C", "A", "B"}},
        {{"A", "B*", "C"}, {"B", "C"}, QueueMove::Up, {"A", "C", "B"}},
        {{"A", "B*", "C"}, {"A", "B"}, QueueMove::Bottom, {"B", "C", "A"}},
        // Names that are not (or no longer) in the queue change nothing.
        {{"A", "B"}, {"Z"}, QueueMove::Top, {"A", "B"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(n++));
        CTransferQueue queue;
        const auto ids = Fill(queue, c.rows);
        std::vector<QueueEntryId> selected;
        for (const std::string& name : c.selected)
            selected.push_back(ids.contains(name) ? ids.at(name) : 424242);
        std::vector<CQueueChange> changes;
        queue.SetChangeListener([&](const CQueueChange& change) { changes.push_back(change); });
        queue.Move(selected, c.how);
        EXPECT_EQ(Remotes(queue), c.expected);
        // Identities travel with their entries.
        for (const auto& [name, id] : ids)
            EXPECT_EQ(queue.Find(id)->remotePath, name);
        for (const CQueueChange& change : changes)
            EXPECT_EQ(change.kind, CQueueChange::Kind::Moved);
    }
}

TEST(TransferQueue, EveryChangeIsReportedWithTheEntriesItConcerns)
{
    using Kind = CQueueChange::Kind;
    CTransferQueue queue;
    std::vector<CQueueChange> changes;
    queue.SetChangeListener([&](const CQueueChange& change) { changes.push_back(change); });
    queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/a"));
    const QueueEntryId a = changes.back().entries.at(0);
    queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/a"));  // the same job: a keeps its identity
    const QueueEntryId b = queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/b", STATUS_ERROR));
    queue.Remove(a);
    queue.ResetQueue(true);
    queue.ClearQueue();

    ASSERT_EQ(changes.size(), 6u);
    const std::vector<std::pair<Kind, std::vector<QueueEntryId>>> expected = {
        {Kind::Added, {a}}, {Kind::Changed, {a}}, {Kind::Added, {b}},
        {Kind::Removed, {a}}, {Kind::Changed, {b}}, {Kind::Removed, {b}},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(changes[i].kind, expected[i].first) << i;
        EXPECT_EQ(changes[i].entries, expected[i].second) << i;
    }
}

// The worker's run and the view's commands at once: every entry is taken exactly once,
// the one being worked on is never freed, moved away from the run's hands or reset, and
// no entry is lost or doubled.
TEST(TransferQueue, TheRunAndTheViewWorkOnItAtOnce)
{
    CTransferQueue queue;
    constexpr int kEntries = 400;
    for (int i = 0; i < kEntries; ++i)
        queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/e" + std::to_string(i)));

    std::atomic<bool> runDone{false};
    std::multiset<std::string> done;
    std::atomic<int> violations{0};
    std::thread run([&] {
        while (auto entry = queue.BeginNext()) {
            // Nobody else may change the entry while it is being worked on.
            const auto seen = queue.Find(entry->id);
            if (!seen || seen->status != STATUS_TRANSFERRING)
                ++violations;
            std::this_thread::yield();  // let the view act while the entry is out
            if (entry->id % 5 == 0) {
                queue.SetAside(*entry, STATUS_ERROR);
            } else {
                done.insert(entry->remotePath);
                queue.Complete(entry->id);
            }
        }
        runDone = true;
    });

    int removed = 0;
    std::vector<QueueEntryId> removedIds;
    for (int round = 0; !runDone; ++round) {
        const std::vector<QueueEntryId> ids = queue.Ids();
        if (ids.empty())
            continue;
        std::vector<QueueEntryId> pick;
        for (std::size_t i = round % 3; i < ids.size(); i += 3)
            pick.push_back(ids[i]);
        queue.Move(pick, static_cast<QueueMove>(round % 4));
        if (round % 7 == 0) {
            const std::size_t n = queue.Remove(std::span(pick.data(), std::min<std::size_t>(pick.size(), 1)));
            removed += static_cast<int>(n);
            if (n == 1)
                removedIds.push_back(pick[0]);
        }
        queue.Edit(ids.back(), [](CQueueEntry& entry) { entry.pattern = "*.bin"; });
        queue.ResetQueue(false);  // may send error entries round once more: never the running one
        queue.ForEach([](const CQueueEntry&) {});
    }
    run.join();
    EXPECT_EQ(violations, 0);
    // Every entry is either done, removed by the view, or left behind with an error.
    std::size_t left = queue.Size();
    EXPECT_EQ(done.size() + static_cast<std::size_t>(removed) + left, std::size_t(kEntries));
    for (const std::string& name : done)
        EXPECT_EQ(done.count(name), 1u) << name;
    queue.ForEach([](const CQueueEntry& entry) { EXPECT_NE(entry.status, STATUS_TRANSFERRING); });
}
