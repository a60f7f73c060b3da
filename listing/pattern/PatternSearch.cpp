#include "listing/pattern/PatternSearch.h"

// Placeholder until the compiler lands: every compile fails and nothing matches.
struct PatternNode {};

CPatternBase::CPatternBase(std::uint8_t flags) : m_flags(flags) { MatchNothing(); }
CPatternBase::~CPatternBase() = default;
CPatternBase::CPatternBase(const CPatternBase&) = default;
CPatternBase& CPatternBase::operator=(const CPatternBase&) = default;
CPatternBase::CPatternBase(CPatternBase&&) noexcept = default;
CPatternBase& CPatternBase::operator=(CPatternBase&&) noexcept = default;

void CPatternBase::MatchNothing()
{
    m_next.assign(256, kDeadRow);
    m_accepting.assign(1, 0);
    m_startRow = kDeadRow;
}

PATTERN_ERROR CPatternBase::Compile(std::string_view)
{
    MatchNothing();
    m_lastError = {"pattern engine not built yet", 0};
    return m_lastError;
}

PATTERN_ERROR CPatternBase::AddName(std::string_view, std::string_view)
{
    return {"pattern engine not built yet", 0};
}
