#include "listing/pattern/PatternSearch.h"

#include "listing/pattern/PatternAutomaton.h"
#include "listing/pattern/PatternException.h"
#include "listing/pattern/PatternParser.h"

#include <new>

namespace {

// Bounds the total building work, and with it the memory held by the subset keys.
constexpr std::uint64_t kMaxBuildWork = 50 * 1000 * 1000;

constexpr PATTERN_LIMITS kLimits{CPatternBase::kMaxNfaStates, CPatternBase::kMaxDfaStates,
                                 kMaxBuildWork};

PATTERN_ERROR CheckLength(std::string_view pattern)
{
    if (pattern.size() > CPatternBase::kMaxPatternLength)
        return {"pattern too long", CPatternBase::kMaxPatternLength};
    return {};
}

bool IsValidName(std::string_view name)
{
    if (name.empty() || (name[0] >= '0' && name[0] <= '9'))
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

CPatternBase::CPatternBase(std::uint8_t flags) : m_flags(flags)
{
    MatchNothing();
}

CPatternBase::~CPatternBase() = default;
CPatternBase::CPatternBase(const CPatternBase&) = default;
CPatternBase& CPatternBase::operator=(const CPatternBase&) = default;

// A moved-from pattern must stay usable: it matches nothing.
CPatternBase::CPatternBase(CPatternBase&& other) noexcept
    : m_next(std::move(other.m_next)),
      m_accepting(std::move(other.m_accepting)),
      m_startRow(other.m_startRow),
      m_flags(other.m_flags),
      m_names(std::move(other.m_names)),
      m_lastError(std::move(other.m_lastError))
{
    other.MatchNothing();
}

CPatternBase& CPatternBase::operator=(CPatternBase&& other) noexcept
{
    if (this != &other) {
        m_next = std::move(other.m_next);
        m_accepting = std::move(other.m_accepting);
        m_startRow = other.m_startRow;
        m_flags = other.m_flags;
        m_names = std::move(other.m_names);
        m_lastError = std::move(other.m_lastError);
        other.MatchNothing();
    }
    return *this;
}

void CPatternBase::MatchNothing()
{
    // One dead state that is also the start: every name is refused.
    std::vector<std::uint32_t> next(256, kDeadRow);
    std::vector<std::uint8_t> accepting(1, 0);
    m_next.swap(next);
    m_accepting.swap(accepting);
    m_startRow = kDeadRow;
}

PATTERN_ERROR CPatternBase::Compile(std::string_view pattern)
{
    MatchNothing();
    m_lastError = CheckLength(pattern);
    if (m_lastError.Failed())
        return m_lastError;
    try {
        const PatternNodePtr root = CPatternParser(pattern, m_names, kMaxNesting).Parse();
        PATTERN_AUTOMATON automaton = CPatternAutomatonBuilder(kLimits).Build(
            *root, (m_flags & PATTERN_IGNORE_CASE) != 0);
        m_next = std::move(automaton.next);
        m_accepting = std::move(automaton.accepting);
        m_startRow = automaton.startRow;
    } catch (const CPatternException& e) {
        m_lastError = {e.Message(), e.Position()};
    } catch (const std::bad_alloc&) {
        m_lastError = {"pattern too complex", 0};
    }
    return m_lastError;
}

PATTERN_ERROR CPatternBase::AddName(std::string_view name, std::string_view pattern)
{
    if (!IsValidName(name))
        return {"invalid name \"" + std::string(name) + "\"", 0};
    PATTERN_ERROR error = CheckLength(pattern);
    if (error.Failed())
        return error;
    try {
        PatternNodePtr node = CPatternParser(pattern, m_names, kMaxNesting).Parse();
        m_names.insert_or_assign(std::string(name), std::move(node));
    } catch (const CPatternException& e) {
        error = {e.Message(), e.Position()};
    } catch (const std::bad_alloc&) {
        error = {"pattern too complex", 0};
    }
    return error;
}
