#pragma once
// Case folding of ASCII letters only: names are bytes, and other bytes keep their value.

#include <string>
#include <string_view>

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

inline std::string AsciiLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = AsciiLower(c);
    return lower;
}

// Byte-wise comparison after folding: negative, 0 or positive.
inline int CompareNoCase(std::string_view a, std::string_view b)
{
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = static_cast<unsigned char>(AsciiLower(a[i]));
        const unsigned char y = static_cast<unsigned char>(AsciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

inline bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}
