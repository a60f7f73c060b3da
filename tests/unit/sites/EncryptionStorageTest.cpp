// How a site's encryption choice is stored (an optional line in site.dat), the ftps://
// and ftpes:// URLs, and the certificates the user trusted by hand.
#include "sites/FtpUrl.h"
#include "sites/KnownCertificates.h"
#include "sites/SiteFile.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

namespace {

const char kPlainRecord[] =
    "[plain]\naddress=a.example\nport=21\nusername=bob\npassword=\nlogintype=0\nhosttype=0\n"
    "deflocaldir=\ndefremotedir=/\npassive=1\n\n";

std::unique_ptr<CSiteSetting> Site(const std::string& name, int encryption)
{
    auto site = std::make_unique<CSiteSetting>();
    site->name = name;
    site->address = name + ".example";
    site->encryption = encryption;
    return site;
}

TEST(SiteFileEncryption, PlainSitesAreWrittenExactlyAsBefore)
{
    SiteList list;
    TempFolder folder;
    folder.Write("site.dat", kPlainRecord);
    LoadSiteFile(folder / "site.dat", list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->encryption, CSiteSetting::ENCRYPTION_PLAIN);
    EXPECT_EQ(FormatSiteFile(list), kPlainRecord);
}

TEST(SiteFileEncryption, EveryChoiceSurvivesARoundTripBesideOtherRecords)
{
    SiteList written;
    for (int encryption = CSiteSetting::ENCRYPTION_PLAIN; encryption <= CSiteSetting::ENCRYPTION_IMPLICIT; ++encryption)
        written.push_back(Site("s" + std::to_string(encryption), encryption));
    const std::string text = FormatSiteFile(written);
    EXPECT_NE(text.find("passive=0\nencryption=3\n\n"), std::string::npos) << text;

    // Also without the blank lines between records: the next header is not lost.
    std::string packed;
    for (char c : text)
        if (!(c == '\n' && !packed.empty() && packed.back() == '\n'))
            packed += c;
    for (const std::string& file : {text, packed}) {
        TempFolder folder;
        folder.Write("site.dat", file);
        SiteList read;
        LoadSiteFile(folder / "site.dat", read);
        ASSERT_EQ(read.size(), written.size()) << file;
        for (size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(read[i]->name, written[i]->name);
            EXPECT_EQ(read[i]->encryption, written[i]->encryption) << read[i]->name;
        }
    }
}

// What a reader that knows eleven lines per record makes of the new file: it reads a
// header and nine values by position, and skips lines until the next header.
TEST(SiteFileEncryption, AnElevenLineReaderStillFindsEveryRecord)
{
    SiteList written;
    written.push_back(Site("first", CSiteSetting::ENCRYPTION_REQUIRE));
    written.push_back(Site("second", CSiteSetting::ENCRYPTION_PLAIN));
    const std::string text = FormatSiteFile(written);
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty() || lines[i][0] != '[')
            continue;
        names.push_back(lines[i].substr(1, lines[i].size() - 2));
        EXPECT_EQ(lines[i + 1].rfind("address=", 0), 0u);
        EXPECT_EQ(lines[i + 9].rfind("passive=", 0), 0u);
        i += 9;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"first", "second"}));
}

TEST(SiteFileEncryption, AnUnknownChoiceReadsAsPlain)
{
    TempFolder folder;
    std::string record = kPlainRecord;
    record.insert(record.size() - 1, "encryption=9\n");
    folder.Write("site.dat", record);
    SiteList list;
    LoadSiteFile(folder / "site.dat", list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->encryption, CSiteSetting::ENCRYPTION_PLAIN);
}

TEST(FtpUrlEncryption, SchemesChooseTheEncryptionAndTheDefaultPort)
{
    struct Case {
        const char* url;
        int encryption;
        int port;
    };
    const Case cases[] = {
        {"ftp://h/", CSiteSetting::ENCRYPTION_PLAIN, 21},
        {"ftps://h/", CSiteSetting::ENCRYPTION_IMPLICIT, 990},
        {"ftps://h:2990/", CSiteSetting::ENCRYPTION_IMPLICIT, 2990},
        {"ftpes://u@h/", CSiteSetting::ENCRYPTION_REQUIRE, 21},
    };
    for (const Case& c : cases) {
        CSiteSetting site;
        ASSERT_TRUE(SiteFromUrl(c.url, "pass", site)) << c.url;
        EXPECT_EQ(site.encryption, c.encryption) << c.url;
        EXPECT_EQ(site.port, c.port) << c.url;
        EXPECT_EQ(WithFtpPrefix(c.url), c.url);
    }
    FtpUrl parts;
    EXPECT_FALSE(SplitFtpUrl("sftp://h/", parts));
}

TEST(KnownCertificates, OnePerHostAndPortReplacedWhenTrustedAgain)
{
    TempFolder folder;
    const std::string file = KnownCertificatesPath(folder.Path() + "/");
    EXPECT_EQ(FindKnownCertificate(file, "ftp.example.org", 21), "");
    ASSERT_TRUE(RememberKnownCertificate(file, "FTP.Example.org", 21, "AA:BB"));
    ASSERT_TRUE(RememberKnownCertificate(file, "ftp.example.org", 990, "CC:DD"));
    ASSERT_TRUE(RememberKnownCertificate(file, "ftp.example.org", 21, "EE:FF"));
    EXPECT_EQ(FindKnownCertificate(file, "ftp.example.org", 21), "EE:FF");
    EXPECT_EQ(FindKnownCertificate(file, "FTP.EXAMPLE.ORG", 990), "CC:DD");
    EXPECT_EQ(FindKnownCertificate(file, "ftp.example.org", 2121), "");
    // A name that would break the line format is refused.
    EXPECT_FALSE(RememberKnownCertificate(file, "a b", 21, "AA"));
    EXPECT_FALSE(RememberKnownCertificate(file, "a\nb 21 AA", 21, "AA"));
    EXPECT_EQ(FindKnownCertificate(file, "b", 21), "");
}

}  // namespace
