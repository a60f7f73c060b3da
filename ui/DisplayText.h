#pragma once
// Engine text is bytes; windows show it decoded as UTF-8. A byte that is not part of a
// valid UTF-8 sequence is shown as \xNN, so nothing a server sends disappears or turns
// into a look-alike character.

#include <QString>

#include <string>
#include <string_view>

QString DisplayText(std::string_view bytes);

// What the user typed, as the bytes the engine works with.
std::string EngineText(const QString& text);

// Text the user may edit and that must come back as the very same bytes: like DisplayText,
// and also control characters as \xNN and a backslash that would read as the start of
// such an escape as \x5C. BytesFromEditableText reverses it exactly; there, \xNN (two hex
// digits) typed by the user is that byte.
QString EditableText(std::string_view bytes);
std::string BytesFromEditableText(const QString& text);
