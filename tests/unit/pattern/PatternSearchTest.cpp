#include "listing/pattern/PatternSearch.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct MatchCase {
    const char* pattern;
    std::string name;
    bool matches;
};

// Whole-name matching, byte for byte.
const MatchCase kMatchCases[] = {
    // The offline search's wildcard "*.txt" arrives as ".*\.txt".
    {R"(.*\.txt)", "a.txt", true},
    {R"(.*\.txt)", ".txt", true},
    {R"(.*\.txt)", "a.txt.bak", false},
    {R"(.*\.txt)", "A.TXT", false},
    {R"(.*\.txt)", "atxt", false},
    {R"((.*\.txt)\i)", "A.TXT", true},
    {R"((.*\.txt)\i)", "a.TxT", true},
    {R"(a\ib)", "Ab", true},
    {R"(a\ib)", "AB", false},
    // Only the prefix matching is not enough, nor is a match inside the name.
    {"abc", "abcd", false},
    {"bcd", "abcd", false},
    {"abc", "ab", false},
    // White space between tokens is skipped; an escaped blank or a set is a blank.
    {"a b", "ab", true},
    {"a b", "a b", false},
    {R"(a\ b)", "a b", true},
    {"a[ ]b", "a b", true},
    {" \t\r\n\v\fa", "a", true},
    // Sets, ranges (either order), complements.
    {"[^0-9]+", "abc", true},
    {"[^0-9]+", "a1", false},
    {"[^0-9]+", "", false},
    {"[z-a]", "m", true},
    {"[a-cx]*", "abcxa", true},
    {"[a-cx]*", "abd", false},
    {"[a-]", "-", true},
    {"[-a]", "-", true},
    {R"([\]])", "]", true},
    {R"([a\-z])", "b", false},
    {R"([a\-z])", "-", true},
    {"[^]", "\xff", true},
    {"[]", "", false},
    {"[ab^]", "^", true},
    {".", "\xff", true},
    {".", "\0"s, true},
    {".", "", false},
    // Postfix operators, one per factor.
    {"ab?c", "ac", true},
    {"ab?c", "abc", true},
    {"ab?c", "abbc", false},
    {"ab*c", "abbbc", true},
    {"ab+c", "ac", false},
    {"ab+c", "abbc", true},
    {"(ab)+", "ababab", true},
    {"(ab)+", "ababa", false},
    {"(a*)*", "aaa", true},
    {"(a?)+b", "b", true},
    // Alternation and empty branches.
    {"cat|dog", "dog", true},
    {"cat|dog", "catdog", false},
    {"a|", "", true},
    {"a|", "a", true},
    {"", "", true},
    {"", "a", false},
    {"()", "", true},
    {"(a|b)c|d", "bc", true},
    {"(a|b)c|d", "bd", false},
    // Escapes.
    {R"(\x41)", "A", true},
    {R"(\x4)", "x4", true},
    {R"(\xzz)", "xzz", true},
    {R"(\t\n\r\v\a\b)", "\t\n\r\v\a\b", true},
    {R"(\0)", "\0"s, true},
    {R"(\.)", ".", true},
    {R"(\.)", "x", false},
    {R"(\*\+\?\(\)\|\=\\)", "*+?()|=\\", true},
    {R"(\$x)", "$x", true},
    {"$", "$", true},
    {"$1", "$1", true},
    {R"(\xff\x80)", "\xff\x80", true},
    // Folding touches letters only.
    {R"([1-9]\i)", "5", true},
    {R"(é\i)", "é", true},
};

TEST(PatternSearchMatch, WholeNameTable)
{
    for (const MatchCase& c : kMatchCases) {
        CPatternSearch search(0);
        const PATTERN_ERROR error = search.Compile(c.pattern);
        ASSERT_FALSE(error.Failed()) << c.pattern << ": " << error.message;
        EXPECT_EQ(search.Match(c.name), c.matches) << "pattern '" << c.pattern << "' name '"
                                                  << c.name << "'";
    }
}

struct ErrorCase {
    const char* pattern;
    std::string message;
    std::size_t position; // 0-based offset of the offending token
};

const ErrorCase kErrorCases[] = {
    {"[abc", "closing ] missing", 0},
    {"x[^abc", "closing ] missing", 1},
    {R"([abc\])", "closing ] missing", 0},
    {R"([abc\)", "closing ] missing", 0},
    {"(a", ") expected\n  ", 2},
    {"((a)", ") expected\n  ", 4},
    {"(*)", ") expected\n  ", 1},
    {"a)", "unexpected symbol", 1},
    {"*a", "unexpected symbol", 0},
    {"a**", "unexpected symbol", 2},
    {"a?+", "unexpected symbol", 2},
    {"a=b", "unexpected symbol", 1},
    {R"(\ia)", "unexpected symbol", 0},
    {"ab \\", "unexpected symbol", 3},
    {"$x", "x not found in name dictionary", 0},
    {"ab $long_name9 c", "long_name9 not found in name dictionary", 3},
};

TEST(PatternSearchCompile, ErrorTable)
{
    for (const ErrorCase& c : kErrorCases) {
        CPatternSearch search(0);
        const PATTERN_ERROR error = search.Compile(c.pattern);
        EXPECT_EQ(error.message, c.message) << "pattern '" << c.pattern << "'";
        EXPECT_EQ(error.position, c.position) << "pattern '" << c.pattern << "'";
        EXPECT_EQ(search.LastError().message, c.message);
    }
}

TEST(PatternSearchCompile, SuccessReportsNoError)
{
    CPatternSearch search(0);
    const PATTERN_ERROR error = search.Compile("a+");
    EXPECT_FALSE(error.Failed());
    EXPECT_EQ(error.message, "");
    EXPECT_EQ(error.position, 0u);
}

// A search that ignores the error record must find nothing, even names the previous,
// good pattern matched.
TEST(PatternSearchCompile, FailedCompileMatchesNothing)
{
    CPatternSearch search(0);
    ASSERT_FALSE(search.Compile(".*").Failed());
    ASSERT_TRUE(search.Match("anything"));
    ASSERT_TRUE(search.Compile(".*(").Failed());
    for (const std::string name : {"", "anything", "(", ".*("})
        EXPECT_FALSE(search.Match(name)) << name;
    EXPECT_FALSE(search.Compile("x").Failed());
    EXPECT_TRUE(search.Match("x"));
    EXPECT_FALSE(search.LastError().Failed());
}

TEST(PatternSearchCompile, NothingMatchesBeforeCompileOrAfterMove)
{
    CPatternSearch fresh(0);
    EXPECT_FALSE(fresh.Match(""));
    EXPECT_FALSE(fresh.Match("a"));

    CPatternSearch source(0);
    ASSERT_FALSE(source.Compile("a*").Failed());
    CPatternSearch copy(source);
    CPatternSearch moved(std::move(source));
    EXPECT_TRUE(copy.Match("aa"));
    EXPECT_TRUE(moved.Match("aa"));
    EXPECT_FALSE(source.Match("")); // NOLINT(bugprone-use-after-move): must stay safe
}

TEST(PatternSearchFlags, IgnoreCaseFoldsTheWholePattern)
{
    CPatternSearch search(PATTERN_IGNORE_CASE);
    ASSERT_FALSE(search.Compile(R"(read[a-c]\.me)").Failed());
    EXPECT_TRUE(search.Match("READA.ME"));
    EXPECT_TRUE(search.Match("ReadB.me"));
    EXPECT_FALSE(search.Match("readd.me"));
}

TEST(PatternSearchNames, NamedSubPatternsExpandInPlace)
{
    CPatternSearch search(0);
    ASSERT_FALSE(search.AddName("digit", "[0-9]").Failed());
    ASSERT_FALSE(search.AddName("number", "$digit+").Failed());
    ASSERT_FALSE(search.AddName("ext", R"(\.(txt|log))").Failed());
    ASSERT_FALSE(search.Compile("file$number$ext").Failed());
    EXPECT_TRUE(search.Match("file42.log"));
    EXPECT_FALSE(search.Match("file.log"));
    EXPECT_FALSE(search.Match("file42.bak"));

    // Folding applies to the expansion without changing the name for other uses.
    ASSERT_FALSE(search.Compile(R"($ext\i|$ext)").Failed());
    EXPECT_TRUE(search.Match(".TXT"));
    ASSERT_FALSE(search.Compile("$ext").Failed());
    EXPECT_FALSE(search.Match(".TXT"));

    // Replacing a name takes effect on the next compile.
    ASSERT_FALSE(search.AddName("ext", R"(\.bak)").Failed());
    ASSERT_FALSE(search.Compile("file$number$ext").Failed());
    EXPECT_TRUE(search.Match("file42.bak"));
}

TEST(PatternSearchNames, BadDefinitionsLeaveTheDictionaryAlone)
{
    CPatternSearch search(0);
    ASSERT_FALSE(search.AddName("ext", "txt").Failed());

    const PATTERN_ERROR broken = search.AddName("ext", "(doc");
    EXPECT_EQ(broken.message, ") expected\n  ");
    EXPECT_EQ(broken.position, 4u);
    EXPECT_EQ(search.AddName("self", "$self").message, "self not found in name dictionary");
    for (const char* bad : {"", "9lives", "a-b", "$ext"})
        EXPECT_TRUE(search.AddName(bad, "x").Failed()) << bad;

    ASSERT_FALSE(search.Compile("$ext").Failed());
    EXPECT_TRUE(search.Match("txt"));
    EXPECT_EQ(search.Compile("$self").message, "self not found in name dictionary");
}

// Hostile patterns are refused quickly with an error instead of exhausting memory.
TEST(PatternSearchLimits, HugePatternsAreCompileErrors)
{
    struct LimitCase {
        std::string pattern;
        const char* message;
    };
    std::string exponential = "(a|b)*a";
    for (int i = 0; i < 20; ++i)
        exponential += "(a|b)";
    const LimitCase cases[] = {
        {std::string(CPatternBase::kMaxPatternLength + 1, 'a'), "pattern too long"},
        {std::string(30000, '(') + "a" + std::string(30000, ')'), "pattern nested too deeply"},
        {std::string(1000, '(') + "a" + std::string(1000, ')'), "pattern nested too deeply"},
        {exponential, "pattern too complex"},
    };
    for (const LimitCase& c : cases) {
        CPatternSearch search(0);
        EXPECT_EQ(search.Compile(c.pattern).message, c.message) << c.pattern.substr(0, 40);
        EXPECT_FALSE(search.Match("a"));
    }
}

TEST(PatternSearchLimits, NameExpansionIsBounded)
{
    CPatternSearch search(0);
    ASSERT_FALSE(search.AddName("n0", "ab").Failed());
    for (int i = 1; i < 40; ++i) {
        const std::string prev = "$n" + std::to_string(i - 1);
        ASSERT_FALSE(search.AddName("n" + std::to_string(i), prev + prev).Failed());
    }
    EXPECT_EQ(search.Compile("$n39").message, "pattern too complex");

    // A chain of names each wrapping the one before is bounded in depth as well.
    CPatternSearch deep(0);
    ASSERT_FALSE(deep.AddName("d0", "a").Failed());
    PATTERN_ERROR error;
    for (int i = 1; i < 5000 && !error.Failed(); ++i)
        error = deep.AddName("d" + std::to_string(i), "($d" + std::to_string(i - 1) + ")*");
    EXPECT_EQ(error.message, "pattern nested too deeply");
}

TEST(PatternSearchLimits, LargeOrdinaryPatternsStillCompile)
{
    // Long alternations of names are what a user may paste; they must stay within bounds.
    std::string names;
    for (int i = 0; i < 2000; ++i)
        names += (i ? "|" : "") + std::string("file") + std::to_string(i) + "\\.txt";
    CPatternSearch search(0);
    ASSERT_FALSE(search.Compile(names).Failed()) << search.LastError().message;
    EXPECT_TRUE(search.Match("file1999.txt"));
    EXPECT_FALSE(search.Match("file2000.txt"));
}

// The same expressions written for std::regex must accept exactly the same names. Every
// name of up to four bytes over a small alphabet is tried.
TEST(PatternSearchMatch, AgreesWithStandardRegex)
{
    struct Pair {
        const char* ours;
        const char* standard;
    };
    const Pair pairs[] = {
        {"a*b", "a*b"},
        {"(a|b)*c", "(a|b)*c"},
        {"[^a]+b?", "[^a]+b?"},
        {"(ab|a)(c|bc)", "(ab|a)(c|bc)"},
        {".*a.", ".*a."},
        {"(a|b)*a(a|b)", "(a|b)*a(a|b)"},
        {"((a?)*b)+|c", "((a?)*b)+|c"},
        {R"(a\i(b|c)\i)", "[aA]([bB]|[cC])"},
        {"[a-b]*[^b]", "[a-b]*[^b]"},
    };
    const std::string alphabet = "abcAB";
    std::vector<std::string> names{""};
    for (std::size_t begin = 0, length = 0; length < 4; ++length) {
        const std::size_t end = names.size();
        for (std::size_t i = begin; i < end; ++i)
            for (char c : alphabet)
                names.push_back(names[i] + c);
        begin = end;
    }
    for (const Pair& p : pairs) {
        CPatternSearch search(0);
        ASSERT_FALSE(search.Compile(p.ours).Failed()) << p.ours;
        const std::regex standard(p.standard);
        for (const std::string& name : names)
            ASSERT_EQ(search.Match(name), std::regex_match(name, standard))
                << "pattern '" << p.ours << "' name '" << name << "'";
    }
}

} // namespace
