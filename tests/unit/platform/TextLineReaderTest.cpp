#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/TextLineReader.h"
#include "tests/support/TempFolder.h"

namespace {

std::vector<std::string> ReadAllLines(const std::string& path, std::size_t* skipped = nullptr)
{
    CTextLineReader reader;
    EXPECT_TRUE(reader.Open(path));
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.ReadLine(line))
        lines.emplace_back(line);
    if (skipped)
        *skipped = reader.SkippedLongLines();
    return lines;
}

TEST(CTextLineReader, LineEndsOfEitherPlatform)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"LF", "a\nb\n", {"a", "b"}},
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"CR CR LF", "a\r\r\nb\r\r\n", {"a", "b"}},
        {"last line without line end", "a\nb", {"a", "b"}},
        {"empty lines are lines", "a\n\n\r\nb\n", {"a", "", "", "b"}},
        {"empty file", "", {}},
        {"inner CR stays", "a\rb\n", {"a\rb"}},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(folder / "f.txt", c.bytes);
        EXPECT_EQ(ReadAllLines(folder / "f.txt"), c.lines);
    }
}

TEST(CTextLineReader, LongLinesAreWholeOrSkippedNeverSplit)
{
    TempFolder folder;
    const std::string nearLimitName(255, 'n');
    const std::string atLimit(CTextLineReader::kMaxLineLength, 'x');
    const std::string tooLong(CTextLineReader::kMaxLineLength + 10, 'y');
    const std::string hugeLine(5 * CTextLineReader::kMaxLineLength, 'z');
    WriteFile(folder / "f.txt", "-rw-r--r-- 1 u g 1 Jan 1 2004 " + nearLimitName + "\r\n" + atLimit +
                                   "\n" + tooLong + "\nafter\n" + hugeLine + "\r\nlast\n" + tooLong);
    std::size_t skipped = 0;
    const std::vector<std::string> lines = ReadAllLines(folder / "f.txt", &skipped);
    const std::vector<std::string> expected = {"-rw-r--r-- 1 u g 1 Jan 1 2004 " + nearLimitName,
                                               atLimit, "after", "last"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(skipped, 3u);
}

TEST(CTextLineReader, ManyLinesAcrossBufferRefills)
{
    TempFolder folder;
    std::string bytes;
    std::vector<std::string> expected;
    for (int i = 0; i < 20000; ++i) {
        expected.push_back("line number " + std::to_string(i));
        bytes += expected.back() + (i % 2 ? "\r\n" : "\n");
    }
    WriteFile(folder / "f.txt", bytes);
    EXPECT_EQ(ReadAllLines(folder / "f.txt"), expected);
}

TEST(CTextLineReader, RefusesWhatIsNotAReadableFile)
{
    TempFolder folder;
    CTextLineReader reader;
    EXPECT_FALSE(reader.Open(""));
    EXPECT_FALSE(reader.Open(folder / "missing"));
    EXPECT_FALSE(reader.Open(folder.Path())); // a folder
    // A pipe with nobody writing to it: refused at once instead of waiting for a writer.
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(reader.Open(folder / "pipe"));
    std::string_view line;
    EXPECT_FALSE(reader.ReadLine(line));
}

} // namespace
