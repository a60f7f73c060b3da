#pragma once
// Small text helpers shared by the site file, the settings and the history files.

#include <string>
#include <string_view>

namespace sites {

// White space as the C library's isspace sees it (blank, tab, CR, LF, VT, FF).
std::string Trim(std::string_view text);

// Byte-wise comparison that ignores ASCII letter case.
bool EqualsNoCase(std::string_view a, std::string_view b);
int CompareNoCase(std::string_view a, std::string_view b);

// An optional sign and the leading decimal digits after leading white space; 0 when
// there are none. Saturates instead of overflowing.
int ParseLeadingInt(std::string_view text);

bool ContainsLineBreak(std::string_view text);

} // namespace sites
