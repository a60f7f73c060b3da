#pragma once
// The parsed form of a pattern: a tree of nodes. Named sub-patterns are shared between
// the trees that use them, so nodes are immutable once built.

#include <bitset>
#include <cstddef>
#include <memory>
#include <vector>

using ByteSet = std::bitset<256>;

struct PatternNode;
using PatternNodePtr = std::shared_ptr<const PatternNode>;

struct PatternNode {
    enum class Kind {
        Empty,       // matches the empty string
        Set,         // one byte out of set
        Concatenation,
        Alternation,
        Optional,    // "?"
        Star,        // "*"
        Plus,        // "+"
        FoldCase,    // "\i": letters of the child match in either case
    };

    Kind kind = Kind::Empty;
    ByteSet set;                          // for Set
    std::vector<PatternNodePtr> children;  // for every kind above Set
    std::size_t depth = 1;                // longest path to a leaf, this node included
};
