#include <gtest/gtest.h>

#include "session/QueueColumns.h"

TEST(QueueColumns, SizesWithCommasOrUnknown) {
    const struct {
        std::uint64_t size;
        const char* text;
    } cases[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"},
        {5368709120ull, "5,368,709,120"},  // beyond the low half
        {0xFFFFFFFFull + 1, "4,294,967,296"},
    };
    for (const auto& test : cases) {
        CQueueEntry entry;
        entry.SetSize(test.size);
        EXPECT_EQ(QueueSizeText(entry), test.text) << test.size;
    }
    CQueueEntry unknown;
    unknown.SetSizeUnknown();
    EXPECT_EQ(QueueSizeText(unknown), "unknown");
}

TEST(QueueColumns, RowOfAnEntry) {
    CQueueEntry entry;
    entry.operation = QUEUE_CACHEDIR;
    entry.status = STATUS_STOPPED;
    entry.remotePath = "/pub/x";
    entry.localPath = "/home/u";
    entry.SetSize(2048);
    entry.pattern = "*.c;*.h";
    entry.updateOnly = 1;
    const std::array<std::string, 7> expected = {"/pub/x", "CacheDir", "/home/u", "2,048", "stopped", "*.c;*.h", "true"};
    EXPECT_EQ(QueueRowTexts(entry), expected);

    const char* operations[] = {"Download", "Upload", "Delete", "CacheDir"};
    for (int operation = 0; operation < 4; ++operation)
        EXPECT_EQ(QueueOperationText(operation), operations[operation]);
    const char* statuses[] = {"queued", "transferring", "error", "stopped"};
    for (int status = 0; status < 4; ++status) EXPECT_EQ(QueueStatusText(status), statuses[status]);
    EXPECT_EQ(QueueOperationText(7), "7");
}
