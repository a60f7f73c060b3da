// tollvane-cli against vsftpd and pyftpdlib as servers speak today: on IPv6 (::1) with
// EPSV and EPRT, listings by MLSD with times to the second, and UTF-8 names.
#include "tests/integration/cli/CliFixture.h"

#include <ctime>
#include <utime.h>

namespace clitest {
namespace {

// Every list file of the run's directory cache, concatenated.
std::string CachedListFiles(const std::string& root)
{
    std::string all;
    for (const auto& item : fs::recursive_directory_iterator(root + "/data"))
        if (item.path().filename() == "files.lis")
            all += ReadAll(item.path().string());
    return all;
}

// The Modified column of the named entry in `ls --long` output; empty when not listed.
std::string ModifiedColumn(const std::string& output, const std::string& name)
{
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> columns;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            columns.push_back(field);
        if (columns.size() >= 4 && columns[0] == name)
            return columns[3];
    }
    return {};
}

std::string LocalTimeText(std::time_t time, const char* format)
{
    std::tm local{};
    char text[32] = {};
    if (localtime_r(&time, &local) == nullptr)
        return {};
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

class CliIpv6Test : public CliServerTest {
protected:
    tvtest::FtpServerOptions ServerOptions() const override
    {
        tvtest::FtpServerOptions options;
        options.listenAddress = "::1";
        return options;
    }
    void SetUp() override
    {
        CliServerTest::SetUp();
        if (HasFatalFailure())
            return;
        user_ = server_->hasUser() ? server_->userName() + "@" : "";
        base_ = "ftp://" + user_ + "[::1]:" + std::to_string(server_->port()) + "/incoming";
    }
    std::string user_;
};

TEST_P(CliIpv6Test, ListsTransfersAndSearchesOverIpv6)
{
    ASSERT_TRUE(server_->createFile("incoming/b.txt", "hello\n"));
    const std::string bytes = RandomBytes(300 * 1024 + 7, 3);
    ASSERT_TRUE(server_->createFile("incoming/data.bin", bytes));

    const Outcome listed = Run({"ls", Url("")});
    ASSERT_EQ(listed.exitCode, 0) << Transcript(listed);
    EXPECT_NE(listed.out.find(" b.txt"), std::string::npos) << listed.out;
    // A URL printed back brackets the address.
    const Outcome search = Run({"search", "b.txt"});
    EXPECT_EQ(search.out, "ftp://" + user_ + "[::1]:" + std::to_string(server_->port()) + "/incoming/b.txt\n")
        << Transcript(search);

    for (const char* mode : {"--passive", "--active"}) {
        SCOPED_TRACE(mode);
        fs::remove(Local("data.bin"));
        const Outcome get = Run({mode, "get", Url("/data.bin")});
        ASSERT_EQ(get.exitCode, 0) << Transcript(get);
        EXPECT_EQ(ReadAll(Local("data.bin")), bytes);

        const std::string target = std::string("up") + (mode[2] == 'p' ? "p" : "a") + ".bin";
        std::ofstream(Local(target), std::ios::binary) << bytes;
        const Outcome put = Run({mode, "put", Local(target), Url("/")});
        ASSERT_EQ(put.exitCode, 0) << Transcript(put);
        std::string uploaded;
        ASSERT_TRUE(server_->readFile("incoming/" + target, uploaded));
        EXPECT_EQ(uploaded, bytes);
    }

}

INSTANTIATE_TEST_SUITE_P(Servers, CliIpv6Test, ::testing::Values(ServerKind::Vsftpd, ServerKind::Pyftpdlib),
                         [](const auto& info) {
                             return std::string(info.param == ServerKind::Vsftpd ? "vsftpd" : "pyftpdlib");
                         });

class CliListingFactsTest : public CliServerTest {};

// pyftpdlib offers MLSD: the cached listing keeps the time to the second and is read
// offline as before; vsftpd does not: LIST, as always.
TEST_P(CliListingFactsTest, ListingsKeepExactTimesWhenTheServerOffersThem)
{
    ASSERT_TRUE(server_->createFile("incoming/report; final.txt", "12345"));
    ASSERT_TRUE(server_->createFolder("incoming/Sub Folder"));
    const std::time_t exact = 1705322096;  // 2024-01-15 12:34:56 UTC
    utimbuf times{exact, exact};
    ASSERT_EQ(::utime(server_->localPath("incoming/report; final.txt").c_str(), &times), 0);

    const Outcome listed = Run({"ls", "--long", Url("")});
    ASSERT_EQ(listed.exitCode, 0) << Transcript(listed);
    EXPECT_NE(listed.out.find("report; final.txt\t5\t"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("Sub Folder\t"), std::string::npos) << listed.out;

    const bool mlsd = GetParam() == ServerKind::Pyftpdlib;
    // The Modified column: the file's own time to the second from MLSD (shown in local
    // time, as every time in the column), the listing's minute or day from LIST.
    const std::string modified = ModifiedColumn(listed.out, "report; final.txt");
    if (mlsd)
        EXPECT_EQ(modified, LocalTimeText(exact, "%m/%d/%y %H:%M:%S")) << listed.out;
    else
        EXPECT_EQ(modified.size(), std::string("01/15/24 00:00").size()) << listed.out;

    const std::string cached = CachedListFiles(root_);
    EXPECT_EQ(cached.find(" mlsd 20240115123456 5 ") != std::string::npos, mlsd) << cached;

    const Outcome offline = Run({"ls", "--long", "--offline", Url("")});
    EXPECT_EQ(offline.exitCode, 0) << offline.err;
    EXPECT_EQ(offline.out, listed.out);
    const Outcome search = Run({"search", "*final*"});
    EXPECT_NE(search.out.find("/incoming/report; final.txt\n"), std::string::npos) << Transcript(search);
}

// Names are bytes: a UTF-8 name is listed as text and transferred under its exact bytes.
TEST_P(CliListingFactsTest, Utf8NamesListAndTransferUnderTheirBytes)
{
    const std::string name = "caf\xc3\xa9 \xe2\x98\x95.txt";
    ASSERT_TRUE(server_->createFile("incoming/" + name, "coffee\n"));

    const Outcome listed = Run({"ls", "--long", Url("")});
    ASSERT_EQ(listed.exitCode, 0) << Transcript(listed);
    EXPECT_NE(listed.out.find(name + "\t"), std::string::npos) << listed.out;

    const Outcome get = Run({"get", Url("/" + name)});
    ASSERT_EQ(get.exitCode, 0) << Transcript(get);
    EXPECT_EQ(ReadAll(Local(name)), "coffee\n");

    const std::string upName = "th\xc3\xa9.txt";
    std::ofstream(Local(upName), std::ios::binary) << "tea\n";
    const Outcome put = Run({"put", Local(upName), Url("/")});
    ASSERT_EQ(put.exitCode, 0) << Transcript(put);
    std::string uploaded;
    ASSERT_TRUE(server_->readFile("incoming/" + upName, uploaded));
    EXPECT_EQ(uploaded, "tea\n");
}

INSTANTIATE_TEST_SUITE_P(Servers, CliListingFactsTest, ::testing::Values(ServerKind::Vsftpd, ServerKind::Pyftpdlib),
                         [](const auto& info) {
                             return std::string(info.param == ServerKind::Vsftpd ? "vsftpd" : "pyftpdlib");
                         });

} // namespace
} // namespace clitest
