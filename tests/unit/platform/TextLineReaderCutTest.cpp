#include "platform/TextLineReader.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> ReadAll(const std::string& path)
{
    CTextLineReader reader(COverlongLine::Cut);
    reader.Open(path);
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line))
        lines.push_back(line);
    return lines;
}

TEST(TextLineReaderCut, AcceptsEveryLineEnd)
{
    struct Case {
        const char* title;
        std::string file;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"LF", "a\nb\n", {"a", "b"}},
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"CR CR LF", "a\r\r\nb\r\r\n", {"a", "b"}},
        {"no end on the last line", "a\nb", {"a", "b"}},
        {"blank lines count", "\n\r\n", {"", ""}},
        {"CR inside a line stays", "a\rb\n", {"a\rb"}},
        {"a line of 300 bytes is one line", std::string(300, 'x') + "\nnext\n",
         {std::string(300, 'x'), "next"}},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        tmp.Write("f.txt", c.file);
        EXPECT_EQ(ReadAll(tmp.File("f.txt")), c.lines) << c.title;
    }
}

TEST(TextLineReaderCut, OverlongLineIsCutWithoutShiftingTheNext)
{
    TempFolder tmp;
    const size_t max = CTextLineReader::kMaxLineLength;
    tmp.Write("f.txt", std::string(max + 100, 'y') + "\nnext\n");
    const auto lines = ReadAll(tmp.File("f.txt"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(max, 'y'));
    EXPECT_EQ(lines[1], "next");
}

TEST(TextLineReaderCut, OverlongLastLineWithoutLineEndIsCut)
{
    TempFolder tmp;
    const size_t max = CTextLineReader::kMaxLineLength;
    tmp.Write("f.txt", "first\n" + std::string(3 * max, 'z'));
    const auto lines = ReadAll(tmp.File("f.txt"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[1], std::string(max, 'z'));
}

} // namespace
