#include "listing/pattern/PatternAutomaton.h"

#include "listing/pattern/PatternException.h"

#include <algorithm>
#include <deque>
#include <string>
#include <unordered_map>

namespace {

constexpr const char* kTooComplex = "pattern too complex";

ByteSet FoldCase(ByteSet set)
{
    for (unsigned c = 'a'; c <= 'z'; ++c) {
        const unsigned upper = c - 'a' + 'A';
        if (set.test(c) || set.test(upper)) {
            set.set(c);
            set.set(upper);
        }
    }
    return set;
}

struct StateSetHash {
    std::size_t operator()(const std::vector<std::uint32_t>& states) const
    {
        std::size_t hash = states.size();
        for (std::uint32_t s : states)
            hash = hash * 1000003u ^ s;
        return hash;
    }
};

} // namespace

void CPatternAutomatonBuilder::Spend(std::uint64_t work)
{
    m_work += work;
    if (m_work > m_limits.maxWork)
        throw CPatternException(kTooComplex, 0);
}

std::uint32_t CPatternAutomatonBuilder::AddState(std::int32_t set, std::uint32_t out,
                                                 std::uint32_t other)
{
    if (m_nfa.size() >= m_limits.maxNfaStates)
        throw CPatternException(kTooComplex, 0);
    m_nfa.push_back({set, out, other});
    return static_cast<std::uint32_t>(m_nfa.size() - 1);
}

std::int32_t CPatternAutomatonBuilder::AddSet(const ByteSet& set)
{
    // Equal sets share one entry, so the byte classes are refined once per distinct set.
    const auto found = m_setIndex.find(set);
    if (found != m_setIndex.end())
        return found->second;
    const auto index = static_cast<std::int32_t>(m_sets.size());
    m_sets.push_back(set);
    m_setIndex.emplace(set, index);
    return index;
}

// Builds the automaton of node so that it continues into state out; returns its entry.
// Built back to front, so no fragment needs patching afterwards.
std::uint32_t CPatternAutomatonBuilder::BuildNfa(const PatternNode& node, bool foldCase,
                                                 std::uint32_t out)
{
    using Kind = PatternNode::Kind;
    switch (node.kind) {
    case Kind::Empty:
        return out;
    case Kind::Set:
        return AddState(AddSet(foldCase ? FoldCase(node.set) : node.set), out, kNone);
    case Kind::Concatenation:
        for (auto child = node.children.rbegin(); child != node.children.rend(); ++child)
            out = BuildNfa(**child, foldCase, out);
        return out;
    case Kind::Alternation: {
        std::uint32_t entry = BuildNfa(*node.children.back(), foldCase, out);
        for (std::size_t i = node.children.size() - 1; i-- > 0;)
            entry = AddState(-1, BuildNfa(*node.children[i], foldCase, out), entry);
        return entry;
    }
    case Kind::Optional:
        return AddState(-1, BuildNfa(*node.children.front(), foldCase, out), out);
    case Kind::Star:
    case Kind::Plus: {
        const std::uint32_t loop = AddState(-1, kNone, out);
        const std::uint32_t body = BuildNfa(*node.children.front(), foldCase, loop);
        m_nfa[loop].out = body;
        return node.kind == Kind::Star ? loop : body;
    }
    case Kind::FoldCase:
        return BuildNfa(*node.children.front(), true, out);
    }
    return out;
}

void CPatternAutomatonBuilder::ComputeByteClasses()
{
    // Refine the partition of the 256 bytes by each set in turn.
    std::fill(std::begin(m_classOf), std::end(m_classOf), 0);
    m_classCount = 1;
    for (const ByteSet& set : m_sets) {
        Spend(256);
        std::int16_t inside[256];
        std::int16_t outside[256];
        std::fill(std::begin(inside), std::end(inside), -1);
        std::fill(std::begin(outside), std::end(outside), -1);
        std::size_t count = 0;
        for (unsigned b = 0; b < 256; ++b) {
            std::int16_t* map = set.test(b) ? inside : outside;
            std::int16_t& id = map[m_classOf[b]];
            if (id < 0)
                id = static_cast<std::int16_t>(count++);
            m_classOf[b] = static_cast<std::uint8_t>(id);
        }
        m_classCount = count;
    }
    std::vector<int> representative(m_classCount, -1);
    for (unsigned b = 0; b < 256; ++b)
        if (representative[m_classOf[b]] < 0)
            representative[m_classOf[b]] = static_cast<int>(b);
    m_classesOfSet.assign(m_sets.size(), {});
    for (std::size_t i = 0; i < m_sets.size(); ++i)
        for (std::size_t c = 0; c < m_classCount; ++c)
            if (m_sets[i].test(static_cast<std::size_t>(representative[c])))
                m_classesOfSet[i].push_back(static_cast<std::uint8_t>(c));
}

// The states reachable from seeds by epsilon edges, keeping only those that matter to
// the deterministic automaton: states that read a byte, and the accepting state.
void CPatternAutomatonBuilder::Closure(const std::vector<std::uint32_t>& seeds,
                                       std::vector<std::uint32_t>& result)
{
    result.clear();
    ++m_pass;
    m_stack.assign(seeds.begin(), seeds.end());
    std::uint64_t visited = 0;
    while (!m_stack.empty()) {
        const std::uint32_t s = m_stack.back();
        m_stack.pop_back();
        if (s == kNone || m_stamp[s] == m_pass)
            continue;
        m_stamp[s] = m_pass;
        ++visited;
        const NfaState& state = m_nfa[s];
        if (state.set >= 0 || s == m_accept) {
            result.push_back(s);
        } else {
            m_stack.push_back(state.other);
            m_stack.push_back(state.out);
        }
    }
    Spend(visited + seeds.size());
    std::sort(result.begin(), result.end());
}

PATTERN_AUTOMATON CPatternAutomatonBuilder::Build(const PatternNode& root, bool foldCase)
{
    m_accept = AddState(-1, kNone, kNone);
    const std::uint32_t nfaStart = BuildNfa(root, foldCase, m_accept);
    Spend(m_nfa.size());
    m_stamp.assign(m_nfa.size(), 0);
    ComputeByteClasses();

    // Subset construction. Each deterministic state is keyed by its sorted set of NFA
    // states; the key lives once, in the map, and the work list points at it.
    std::unordered_map<std::vector<std::uint32_t>, std::uint32_t, StateSetHash> ids;
    std::vector<const std::vector<std::uint32_t>*> subsets;
    std::vector<std::vector<std::int64_t>> moves; // per state and class; -1 is dead
    std::vector<std::uint8_t> accepting;

    std::vector<std::uint32_t> key;
    auto stateOf = [&](std::vector<std::uint32_t>& subset) -> std::int64_t {
        if (subset.empty())
            return -1;
        const auto found = ids.find(subset);
        if (found != ids.end())
            return found->second;
        if (subsets.size() >= m_limits.maxDfaStates)
            throw CPatternException(kTooComplex, 0);
        Spend(subset.size());
        const bool accepts = std::binary_search(subset.begin(), subset.end(), m_accept);
        const auto id = static_cast<std::uint32_t>(subsets.size());
        const auto inserted = ids.emplace(std::move(subset), id).first;
        subsets.push_back(&inserted->first);
        accepting.push_back(accepts ? 1 : 0);
        moves.emplace_back();
        return id;
    };

    Closure({nfaStart}, key);
    stateOf(key);
    std::vector<std::vector<std::uint32_t>> targets(m_classCount);
    for (std::size_t current = 0; current < subsets.size(); ++current) {
        for (auto& t : targets)
            t.clear();
        for (std::uint32_t s : *subsets[current]) {
            const NfaState& state = m_nfa[s];
            if (state.set < 0)
                continue;
            const auto& classes = m_classesOfSet[static_cast<std::size_t>(state.set)];
            Spend(classes.size());
            for (std::uint8_t c : classes)
                targets[c].push_back(state.out);
        }
        std::vector<std::int64_t> row(m_classCount, -1);
        for (std::size_t c = 0; c < m_classCount; ++c) {
            if (targets[c].empty())
                continue;
            Closure(targets[c], key);
            row[c] = stateOf(key);
        }
        moves[current] = std::move(row);
    }

    // A state from which no accepting state can be reached is dead: all of them merge
    // into state 0 so matching can stop at the first byte that rules a match out.
    const std::size_t count = subsets.size();
    std::vector<std::vector<std::uint32_t>> predecessors(count);
    for (std::size_t s = 0; s < count; ++s)
        for (std::int64_t t : moves[s])
            if (t >= 0)
                predecessors[static_cast<std::size_t>(t)].push_back(static_cast<std::uint32_t>(s));
    std::vector<std::uint8_t> live(accepting);
    std::deque<std::uint32_t> pending;
    for (std::size_t s = 0; s < count; ++s)
        if (live[s])
            pending.push_back(static_cast<std::uint32_t>(s));
    while (!pending.empty()) {
        const std::uint32_t s = pending.front();
        pending.pop_front();
        for (std::uint32_t p : predecessors[s])
            if (!live[p]) {
                live[p] = 1;
                pending.push_back(p);
            }
    }

    std::vector<std::uint32_t> finalId(count, 0);
    std::uint32_t liveCount = 0;
    for (std::size_t s = 0; s < count; ++s)
        if (live[s])
            finalId[s] = ++liveCount;

    PATTERN_AUTOMATON automaton;
    automaton.next.assign((static_cast<std::size_t>(liveCount) + 1) * 256, 0);
    automaton.accepting.assign(liveCount + 1, 0);
    for (std::size_t s = 0; s < count; ++s) {
        if (!live[s])
            continue;
        const std::size_t row = static_cast<std::size_t>(finalId[s]) * 256;
        automaton.accepting[finalId[s]] = accepting[s];
        for (unsigned b = 0; b < 256; ++b) {
            const std::int64_t t = moves[s][m_classOf[b]];
            automaton.next[row + b] = t < 0 ? 0 : finalId[static_cast<std::size_t>(t)] * 256;
        }
    }
    automaton.startRow = finalId[0] * 256;
    return automaton;
}
