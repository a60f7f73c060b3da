#include "listing/pattern/PatternParser.h"

#include "listing/pattern/PatternException.h"

#include <algorithm>

namespace {

constexpr unsigned kFactorStart = TOKEN_IDENT | TOKEN_SET | TOKEN_LPAREN;
constexpr unsigned kPostfixOperator = TOKEN_QUESTION | TOKEN_STAR | TOKEN_PLUS | TOKEN_FOLD_CASE;
constexpr const char* kNestedTooDeeply = "pattern nested too deeply";

} // namespace

CPatternParser::CPatternParser(std::string_view text, const PatternNameDictionary& names,
                               std::size_t maxNesting)
    : m_scanner(text), m_names(names), m_maxNesting(maxNesting)
{
}

PatternNodePtr CPatternParser::MakeNode(PatternNode::Kind kind,
                                        std::vector<PatternNodePtr> children) const
{
    auto node = std::make_shared<PatternNode>();
    node->kind = kind;
    std::size_t deepest = 0;
    for (const auto& child : children)
        deepest = std::max(deepest, child->depth);
    node->depth = deepest + 1;
    // Named sub-patterns can stack trees inside each other without any "(" in the
    // text; the automaton builder recurses over the tree, so its depth is bounded too.
    if (node->depth > 4 * m_maxNesting)
        throw CPatternException(kNestedTooDeeply, m_token.position);
    node->children = std::move(children);
    return node;
}

PatternNodePtr CPatternParser::Parse()
{
    Advance();
    PatternNodePtr root = ParseAlternation();
    if (m_token.kind != TOKEN_END)
        throw CPatternException("unexpected symbol", m_token.position);
    return root;
}

PatternNodePtr CPatternParser::ParseAlternation()
{
    std::vector<PatternNodePtr> choices{ParseConcatenation()};
    while (m_token.kind == TOKEN_BAR) {
        Advance();
        choices.push_back(ParseConcatenation());
    }
    if (choices.size() == 1)
        return choices.front();
    return MakeNode(PatternNode::Kind::Alternation, std::move(choices));
}

PatternNodePtr CPatternParser::ParseConcatenation()
{
    std::vector<PatternNodePtr> terms;
    while (m_token.kind & kFactorStart)
        terms.push_back(ParsePostfix());
    if (terms.size() == 1)
        return terms.front();
    if (terms.empty())
        return MakeNode(PatternNode::Kind::Empty, {});
    return MakeNode(PatternNode::Kind::Concatenation, std::move(terms));
}

PatternNodePtr CPatternParser::ParsePostfix()
{
    PatternNodePtr factor = ParseFactor();
    if (!(m_token.kind & kPostfixOperator))
        return factor;
    PatternNode::Kind kind = PatternNode::Kind::FoldCase;
    switch (m_token.kind) {
    case TOKEN_QUESTION: kind = PatternNode::Kind::Optional; break;
    case TOKEN_STAR: kind = PatternNode::Kind::Star; break;
    case TOKEN_PLUS: kind = PatternNode::Kind::Plus; break;
    default: break;
    }
    PatternNodePtr node = MakeNode(kind, {std::move(factor)});
    Advance();
    return node;
}

PatternNodePtr CPatternParser::ParseFactor()
{
    switch (m_token.kind) {
    case TOKEN_IDENT: {
        const auto found = m_names.find(m_token.name);
        if (found == m_names.end())
            throw CPatternException(m_token.name + " not found in name dictionary",
                                    m_token.position);
        Advance();
        return found->second;
    }
    case TOKEN_SET: {
        auto node = std::make_shared<PatternNode>();
        node->kind = PatternNode::Kind::Set;
        node->set = m_token.set;
        Advance();
        return node;
    }
    case TOKEN_LPAREN: {
        if (++m_nesting > m_maxNesting)
            throw CPatternException(kNestedTooDeeply, m_token.position);
        Advance();
        PatternNodePtr inner = ParseAlternation();
        if (m_token.kind != TOKEN_RPAREN)
            throw CPatternException(PatternTokenName(TOKEN_RPAREN) + " expected\n  ",
                                    m_token.position);
        --m_nesting;
        Advance();
        return inner;
    }
    default:
        throw CPatternException("[,',( or ident expected", m_token.position);
    }
}
