#pragma once
// The search pattern engine: compiles a pattern of the engine's own regular-expression
// syntax into a deterministic automaton over bytes and tells whether a whole name matches.
//
// Syntax in short: white space between tokens is ignored ("\ " or "[ ]" is a blank);
// "." any byte; "[...]" / "[^...]" byte sets with ranges; "(" ")" grouping; "|" choice;
// postfix "?", "*", "+" and "\i" (the factor matches letters in either case); "$name" a
// named sub-pattern from the name dictionary; escapes \0 \a \b \t \n \v \r \xHH, and a
// backslash before any other character stands for that character.
//
// Errors never leave the engine as exceptions: Compile returns a PATTERN_ERROR, and a
// pattern that failed to compile leaves an automaton that matches nothing.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Result of a compile. An empty message (and position 0) means success; otherwise the
// message says what is wrong and position is the 0-based byte offset in the pattern
// where the fault was found.
struct PATTERN_ERROR {
    std::string message;
    std::size_t position = 0;

    bool Failed() const { return !message.empty(); }
};

// Construction flags.
enum : std::uint8_t {
    PATTERN_NONE = 0x00,
    PATTERN_IGNORE_CASE = 0x01, // the whole pattern matches ASCII letters in either case
};

struct PatternNode; // parsed expression, private to the engine

// The compiler: scanner, parser, name dictionary and automaton construction.
class CPatternBase {
public:
    // Bounds that keep a hostile or huge pattern from exhausting time or memory; going
    // past one is reported as a compile error.
    static constexpr std::size_t kMaxPatternLength = 64 * 1024;  // bytes of pattern text
    static constexpr std::size_t kMaxNesting = 256;              // nested "(" levels
    static constexpr std::size_t kMaxNfaStates = 200 * 1000;     // after expanding names
    static constexpr std::size_t kMaxDfaStates = 10 * 1000;      // deterministic states

    explicit CPatternBase(std::uint8_t flags = PATTERN_NONE);
    virtual ~CPatternBase();
    CPatternBase(const CPatternBase&);
    CPatternBase& operator=(const CPatternBase&);
    CPatternBase(CPatternBase&&) noexcept;
    CPatternBase& operator=(CPatternBase&&) noexcept;

    // Compiles the pattern and keeps the new automaton. On failure the automaton
    // matches nothing and the error record says why.
    PATTERN_ERROR Compile(std::string_view pattern);

    // Adds (or replaces) the named sub-pattern used as "$name" by later compiles. The
    // name is letters, digits and "_", not starting with a digit, without the "$". The
    // pattern may use names added before. Returns the compile error of the sub-pattern
    // (or an error for a bad name); on failure the dictionary is unchanged.
    PATTERN_ERROR AddName(std::string_view name, std::string_view pattern);

    // The error record of the last Compile (empty after a success).
    const PATTERN_ERROR& LastError() const { return m_lastError; }

    // Number of states of the current automaton, the dead state included.
    std::size_t StateCount() const { return m_accepting.size(); }

protected:
    // The automaton: row s of m_next holds the 256 successors of state s, stored as row
    // offsets (state * 256) so matching needs no multiply. State 0 is the one dead state:
    // it is never accepting and every transition from it leads back to it.
    static constexpr std::uint32_t kDeadRow = 0;
    std::vector<std::uint32_t> m_next;
    std::vector<std::uint8_t> m_accepting; // per state, 1 when accepting
    std::uint32_t m_startRow = kDeadRow;

private:
    void MatchNothing();

    std::uint8_t m_flags;
    std::map<std::string, std::shared_ptr<const PatternNode>, std::less<>> m_names;
    PATTERN_ERROR m_lastError;
};

// The search: whole-name matching with the compiled automaton. Match is const and keeps
// no state, so one compiled pattern may be shared by several threads.
class CPatternSearch : public CPatternBase {
public:
    using CPatternBase::CPatternBase;

    // True when the automaton accepts the whole name, byte for byte.
    bool Match(std::string_view name) const
    {
        const std::uint32_t* next = m_next.data();
        std::uint32_t row = m_startRow;
        for (unsigned char byte : name) {
            row = next[row + byte];
            if (row == kDeadRow)
                return false;
        }
        return m_accepting[row / 256] != 0;
    }
};
