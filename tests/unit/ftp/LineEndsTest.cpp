#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/LineEnds.h"

namespace {

// The pieces as they arrive, and the file they make.
std::string Converted(const std::vector<std::string>& pieces) {
    CCrLfToLf converter;
    std::string file, piece;
    for (const std::string& bytes : pieces) {
        converter.Convert(bytes.data(), bytes.size(), piece);
        file += piece;
    }
    char last = 0;
    if (converter.Finish(last)) file += last;
    return file;
}

TEST(CrLfToLf, LineEndsAcrossPieceBoundaries) {
    const struct {
        std::vector<std::string> pieces;
        std::string file;
    } cases[] = {
        {{"a\r\nb\r\n"}, "a\nb\n"},
        {{"a\nb\n"}, "a\nb\n"},               // LF alone stays
        {{"a\r", "\nb"}, "a\nb"},             // CR LF split between pieces
        {{"a\r", "b"}, "a\rb"},               // a CR without LF is kept
        {{"a\r\r\n"}, "a\r\n"},               // only the CR before the LF goes
        {{"a\r", "\r", "\n"}, "a\r\n"},
        {{"end\r"}, "end\r"},                 // a CR at the very end is kept
        {{"x", "", "\r", "", "\n"}, "x\n"},   // empty pieces change nothing
        {{std::string("n\0\r\nz", 5)}, std::string("n\0\nz", 4)},
    };
    for (const auto& test : cases) EXPECT_EQ(Converted(test.pieces), test.file);
}

}  // namespace
