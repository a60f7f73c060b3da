#include "listing/pattern/PatternScanner.h"

#include "platform/HexDigit.h"

#include "listing/pattern/PatternException.h"

#include <algorithm>

std::string PatternTokenName(unsigned kind)
{
    switch (kind) {
    case TOKEN_END: return "end of string";
    case TOKEN_ILLEGAL: return "illegal character";
    case TOKEN_STAR: return "*";
    case TOKEN_PLUS: return "+";
    case TOKEN_EQUAL: return "=";
    case TOKEN_QUESTION: return "?";
    case TOKEN_BAR: return "|";
    case TOKEN_SET: return "[<characters>]";
    case TOKEN_LPAREN: return "(";
    case TOKEN_RPAREN: return ")";
    default: return "";
    }
}

namespace {

bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

bool CPatternScanner::IsIdentStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool CPatternScanner::IsIdentChar(char c)
{
    return IsIdentStart(c) || (c >= '0' && c <= '9');
}

void CPatternScanner::SkipWhiteSpace()
{
    while (m_pos < m_text.size() && IsWhiteSpace(m_text[m_pos]))
        ++m_pos;
}

unsigned char CPatternScanner::ReadLiteral()
{
    char c = m_text[m_pos++];
    if (c != '\\' || m_pos >= m_text.size())
        return static_cast<unsigned char>(c);
    c = m_text[m_pos++];
    switch (c) {
    case '0': return 0;
    case 'a': return 7;
    case 'b': return 8;
    case 't': return 9;
    case 'n': return 10;
    case 'v': return 11;
    case 'r': return 13;
    case 'x':
        if (m_pos + 1 < m_text.size()) {
            const int high = HexDigitValue(m_text[m_pos]);
            const int low = HexDigitValue(m_text[m_pos + 1]);
            if (high >= 0 && low >= 0) {
                m_pos += 2;
                return static_cast<unsigned char>(high * 16 + low);
            }
        }
        return 'x';
    default:
        return static_cast<unsigned char>(c);
    }
}

ByteSet CPatternScanner::ReadSet(std::size_t start)
{
    ByteSet set;
    bool complement = false;
    if (m_pos < m_text.size() && m_text[m_pos] == '^') {
        complement = true;
        ++m_pos;
    }
    for (;;) {
        // A lone backslash at the end cannot escape the "]" that is missing anyway.
        if (m_pos >= m_text.size() || (m_text[m_pos] == '\\' && m_pos + 1 >= m_text.size()))
            throw CPatternException("closing ] missing", start);
        if (m_text[m_pos] == ']') {
            ++m_pos;
            break;
        }
        const unsigned char low = ReadLiteral();
        const bool isRange = m_pos + 1 < m_text.size() && m_text[m_pos] == '-' &&
                             m_text[m_pos + 1] != ']' &&
                             !(m_text[m_pos + 1] == '\\' && m_pos + 2 >= m_text.size());
        if (!isRange) {
            set.set(low);
            continue;
        }
        ++m_pos; // the "-"
        const unsigned char high = ReadLiteral();
        for (unsigned b = std::min(low, high); b <= std::max(low, high); ++b)
            set.set(b);
    }
    if (complement)
        set.flip();
    return set;
}

PATTERN_TOKEN CPatternScanner::Next()
{
    SkipWhiteSpace();
    PATTERN_TOKEN token;
    token.position = m_pos;
    if (m_pos >= m_text.size()) {
        token.kind = TOKEN_END;
        return token;
    }
    const char c = m_text[m_pos];
    if (c == '$' && m_pos + 1 < m_text.size() && IsIdentStart(m_text[m_pos + 1])) {
        std::size_t end = m_pos + 1;
        while (end < m_text.size() && IsIdentChar(m_text[end]))
            ++end;
        token.kind = TOKEN_IDENT;
        token.name = std::string(m_text.substr(m_pos + 1, end - m_pos - 1));
        m_pos = end;
        return token;
    }
    if (c == '\\') {
        if (m_pos + 1 >= m_text.size()) {
            // Nothing left to escape.
            token.kind = TOKEN_ILLEGAL;
            ++m_pos;
            return token;
        }
        if (m_text[m_pos + 1] == 'i') {
            token.kind = TOKEN_FOLD_CASE;
            m_pos += 2;
            return token;
        }
    }
    switch (c) {
    case '(': token.kind = TOKEN_LPAREN; ++m_pos; return token;
    case ')': token.kind = TOKEN_RPAREN; ++m_pos; return token;
    case '*': token.kind = TOKEN_STAR; ++m_pos; return token;
    case '+': token.kind = TOKEN_PLUS; ++m_pos; return token;
    case '=': token.kind = TOKEN_EQUAL; ++m_pos; return token;
    case '?': token.kind = TOKEN_QUESTION; ++m_pos; return token;
    case '|': token.kind = TOKEN_BAR; ++m_pos; return token;
    case '.':
        token.kind = TOKEN_SET;
        token.set.set();
        ++m_pos;
        return token;
    case '[':
        token.kind = TOKEN_SET;
        ++m_pos;
        token.set = ReadSet(token.position);
        return token;
    default:
        token.kind = TOKEN_SET;
        token.set.set(ReadLiteral());
        return token;
    }
}
