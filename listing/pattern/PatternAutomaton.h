#pragma once
// Turns a parsed pattern into the byte-indexed deterministic automaton that
// CPatternSearch runs: first a non-deterministic automaton (one state per set and
// operator), then subset construction over classes of bytes that no set tells apart.
// Every stage is bounded; a pattern that would go past a bound is refused with a
// CPatternException instead of exhausting time or memory.

#include "listing/pattern/PatternNode.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

struct PATTERN_AUTOMATON {
    // Row s holds the 256 successors of state s as row offsets (state * 256); state 0 is
    // the dead state, never accepting, leading only to itself.
    std::vector<std::uint32_t> next;
    std::vector<std::uint8_t> accepting;
    std::uint32_t startRow = 0;
};

struct PATTERN_LIMITS {
    std::size_t maxNfaStates;
    std::size_t maxDfaStates;
    std::uint64_t maxWork; // NFA states visited while building, summed over all steps
};

class CPatternAutomatonBuilder {
public:
    explicit CPatternAutomatonBuilder(const PATTERN_LIMITS& limits) : m_limits(limits) {}

    PATTERN_AUTOMATON Build(const PatternNode& root, bool foldCase);

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    struct NfaState {
        std::int32_t set = -1;        // index into m_sets, or -1 for an epsilon state
        std::uint32_t out = kNone;    // on a byte of the set, or the first epsilon edge
        std::uint32_t other = kNone;  // second epsilon edge
    };

    std::uint32_t AddState(std::int32_t set, std::uint32_t out, std::uint32_t other);
    std::int32_t AddSet(const ByteSet& set);
    std::uint32_t BuildNfa(const PatternNode& node, bool foldCase, std::uint32_t out);
    void ComputeByteClasses();
    void Closure(const std::vector<std::uint32_t>& seeds, std::vector<std::uint32_t>& result);
    void Spend(std::uint64_t work);

    PATTERN_LIMITS m_limits;
    std::uint64_t m_work = 0;
    std::vector<NfaState> m_nfa;
    std::vector<ByteSet> m_sets;
    std::unordered_map<ByteSet, std::int32_t> m_setIndex;
    std::uint32_t m_accept = 0;

    // Bytes that belong to exactly the same sets share a class.
    std::uint8_t m_classOf[256] = {};
    std::size_t m_classCount = 0;
    std::vector<std::vector<std::uint8_t>> m_classesOfSet;

    // Closure scratch: a state is visited when its stamp equals the current pass.
    std::vector<std::uint32_t> m_stamp;
    std::uint32_t m_pass = 0;
    std::vector<std::uint32_t> m_stack;
};
