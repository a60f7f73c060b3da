#pragma once
// Text from a server shown to a person: control characters would be obeyed by the terminal
// (clear the screen, set the title, move the cursor), so they are shown escaped instead.
// Only what is printed changes; the bytes stay as they are in the cache and on the wire.

#include <string>
#include <string_view>

// C0 controls, DEL, the C1 controls (as the bytes 0x80-0x9F outside UTF-8 and as the code
// points U+0080-U+009F) and any byte that is not part of valid UTF-8 are written as "\xNN",
// one per byte. Valid UTF-8 passes unchanged. With keepLayout, tabs, "\n" and a
// "\r" right before it stay (a listing or a log line printed as it is).
std::string EscapeForTerminal(std::string_view text, bool keepLayout = false);
// The same, appended to `out` (no allocation of its own for text that needs no escape).
void AppendEscapedForTerminal(std::string& out, std::string_view text, bool keepLayout = false);
