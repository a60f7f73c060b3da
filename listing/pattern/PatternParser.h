#pragma once
// Recursive-descent parser from pattern text to a PatternNode tree:
//   pattern       = alternation end-of-string
//   alternation   = concatenation { "|" concatenation }
//   concatenation = { postfix }            (while the token can start a factor)
//   postfix       = factor [ "?" | "*" | "+" | "\i" ]
//   factor        = identifier | set | "(" alternation ")"
// Faults are thrown as CPatternException with the offending token's position.

#include "listing/pattern/PatternNode.h"
#include "listing/pattern/PatternScanner.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

using PatternNameDictionary = std::map<std::string, PatternNodePtr, std::less<>>;

class CPatternParser {
public:
    CPatternParser(std::string_view text, const PatternNameDictionary& names,
                   std::size_t maxNesting);

    PatternNodePtr Parse();

private:
    PatternNodePtr ParseAlternation();
    PatternNodePtr ParseConcatenation();
    PatternNodePtr ParsePostfix();
    PatternNodePtr ParseFactor();
    void Advance() { m_token = m_scanner.Next(); }
    PatternNodePtr MakeNode(PatternNode::Kind kind, std::vector<PatternNodePtr> children) const;

    CPatternScanner m_scanner;
    const PatternNameDictionary& m_names;
    std::size_t m_maxNesting;
    std::size_t m_nesting = 0;
    PATTERN_TOKEN m_token;
};
