#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ftp/CompletedDownloads.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

struct Reported {
    std::string name;
    bool ok;
};

// A download whose bytes have arrived and were verified, as the transfer leaves it.
CCompletedDownloads::Download Arrived(const TempFolder& folder, const std::string& name, const std::string& bytes) {
    auto part = std::make_unique<CPartialDownload>();
    std::string why;
    EXPECT_TRUE(part->Inspect(folder / name, why)) << why;
    const int fd = part->Open(CPartialDownload::Mode::Fresh, why);
    EXPECT_GE(fd, 0) << why;
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    EXPECT_TRUE(part->Verify(static_cast<std::int64_t>(bytes.size()), 0, why)) << why;
    return {std::move(part), name, folder / name, bytes.size()};
}

TEST(CompletedDownloads, EveryFileTakesItsNameAfterItsBatchAndIsReportedInOrder) {
    // More files than a batch holds: some batches are flushed while others fill, and each
    // file is reported once, in the order it came, by the time Finish returns.
    TempFolder folder;
    CCompletedDownloads completed;
    std::vector<Reported> reports;
    const auto report = [&](const CCompletedDownloads::Download& d, bool ok, const std::string&) {
        reports.push_back({d.fileName, ok});
    };
    const std::size_t count = 3 * CCompletedDownloads::kMaxFiles + 5;
    for (std::size_t i = 0; i < count; ++i) {
        completed.Add(Arrived(folder, "f" + std::to_string(i), std::string(i + 1, 'x')));
        completed.Collect(report);
        for (const Reported& r : reports) EXPECT_TRUE(fs::exists(folder / r.name)) << "reported before renamed";
    }
    completed.Finish(report);
    EXPECT_TRUE(completed.Empty());
    ASSERT_EQ(reports.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(reports[i].name, "f" + std::to_string(i));
        EXPECT_TRUE(reports[i].ok);
        EXPECT_EQ(fs::file_size(folder / reports[i].name), i + 1);
        EXPECT_FALSE(fs::exists(folder / (reports[i].name + kPartialSuffix)));
    }
}

TEST(CompletedDownloads, AFileThatCannotTakeItsNameIsReportedAndKeepsItsBytes) {
    // A folder now sits under the target's name: the rename fails, the others go on, and
    // the partial file keeps what arrived.
    TempFolder folder;
    CCompletedDownloads completed;
    completed.Add(Arrived(folder, "a", "first"));
    completed.Add(Arrived(folder, "b", "second"));
    fs::create_directories(folder / "b/inside");
    std::vector<Reported> reports;
    std::string reason;
    completed.Finish([&](const CCompletedDownloads::Download& d, bool ok, const std::string& why) {
        reports.push_back({d.fileName, ok});
        if (!ok) reason = why;
    });
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].ok);
    EXPECT_FALSE(reports[1].ok);
    EXPECT_NE(reason.find("cannot rename"), std::string::npos) << reason;
    EXPECT_EQ(fs::file_size(folder / "a"), 5u);
    EXPECT_EQ(fs::file_size(folder / (std::string("b") + kPartialSuffix)), 6u);
}

}  // namespace
