#pragma once
// Splits pattern text into tokens, one at a time. Escapes, "." and byte sets are
// resolved here, so the parser sees every literal as a set of bytes.

#include "listing/pattern/PatternNode.h"

#include <cstddef>
#include <string>
#include <string_view>

// Token kinds are bit values so the parser can test a token against a set of kinds.
enum PatternTokenKind : unsigned {
    TOKEN_END = 1,
    TOKEN_ILLEGAL = 2,
    TOKEN_IDENT = 4,
    TOKEN_STAR = 32,
    TOKEN_PLUS = 64,
    TOKEN_EQUAL = 128,
    TOKEN_QUESTION = 256,
    TOKEN_BAR = 512,
    TOKEN_SET = 1024,
    TOKEN_LPAREN = 2048,
    TOKEN_RPAREN = 4096,
    TOKEN_FOLD_CASE = 8192,
};

// The name of a token kind as error messages show it; empty for kinds without one.
std::string PatternTokenName(unsigned kind);

struct PATTERN_TOKEN {
    unsigned kind = TOKEN_END;
    std::size_t position = 0; // offset of the token's first byte
    std::string name;         // identifier, without "$"
    ByteSet set;              // byte set
};

class CPatternScanner {
public:
    explicit CPatternScanner(std::string_view text) : m_text(text) {}

    // Reads the next token; throws CPatternException for a set without its "]".
    PATTERN_TOKEN Next();

private:
    void SkipWhiteSpace();
    unsigned char ReadLiteral(); // one byte, escaped or not; m_pos is on it
    ByteSet ReadSet(std::size_t start);
    static bool IsIdentStart(char c);
    static bool IsIdentChar(char c);

    std::string_view m_text;
    std::size_t m_pos = 0;
};
