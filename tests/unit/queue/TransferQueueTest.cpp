// The session's queue: adding with replacement, clearing, resetting, walking.

#include <gtest/gtest.h>

#include <memory>

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

TEST(TransferQueue, AnEntryBeingTransferredIsNeverReplaced)
{
    CTransferQueue queue;
    queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/a", STATUS_TRANSFERRING));
    CQueueEntry* running = queue.First();
    EXPECT_EQ(queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/a")), -1);
    EXPECT_EQ(queue.First(), running);
    EXPECT_EQ(running->status, STATUS_TRANSFERRING);
    EXPECT_EQ(queue.Size(), 1u);
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
    queue.DestroyAll();
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(TransferQueue, AppendKeepsDuplicates)
{
    CTransferQueue queue;
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/a"));
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/a"));
    EXPECT_EQ(queue.Size(), 2u);
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

TEST(TransferQueue, WalkReachesEntriesAppendedDuringIt)
{
    CTransferQueue queue;
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/a"));
    std::vector<std::string> seen;
    for (CQueueEntry* entry = queue.First(); entry; entry = queue.Next(entry)) {
        seen.push_back(entry->remotePath);
        if (seen.size() == 1)
            queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/late"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"/a", "/late"}));
    EXPECT_EQ(queue.IndexOf(queue.FindEntry("/l", "/late", 0)), 1);

    CQueueEntry stranger;
    EXPECT_EQ(queue.Next(&stranger), nullptr);
    EXPECT_EQ(queue.IndexOf(&stranger), -1);
    EXPECT_FALSE(queue.Remove(&stranger));
    EXPECT_TRUE(queue.Remove(queue.First()));
    EXPECT_EQ(Remotes(queue), (std::vector<std::string>{"/late"}));
}

TEST(TransferQueue, EveryChangeIsReported)
{
    CTransferQueue queue;
    int changes = 0;
    queue.SetChangeListener([&] { ++changes; });
    queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/a"));
    queue.AddEntry(Entry(QUEUE_DOWNLOAD, "/l", "/a"));
    queue.Append(Entry(QUEUE_DOWNLOAD, "/l", "/b"));
    queue.Remove(queue.First());
    queue.ResetQueue(true);
    queue.ClearQueue();
    EXPECT_EQ(changes, 6);
}
