#pragma once
// The URLs of pane entries on the clipboard and in drags. A remote entry's URL is
// "ftp://" + host[:port] + the full path with every byte outside the safe set written as %XX,
// so pasting it back (which decodes %XX) names exactly the same bytes: "a%41 b" is
// copied as "a%2541%20b". The clipboard carries the URLs as text (lines joined by CR LF)
// and as application/x-tollvane-url.

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

class QMimeData;

inline constexpr char kTollvaneUrlMime[] = "application/x-tollvane-url";

// The path with unsafe bytes (and "%") escaped as %XX; "/" stays.
std::string EscapeUrlPath(std::string_view path);
// "ftp://" + host (an IPv6 address in brackets) + ":port" unless 21 + escaped path.
QString RemoteEntryUrl(const std::string& host, int port, const std::string& fullPath);

// Puts the lines into the mime data as text and in the program's own format.
void SetUrlLines(QMimeData& data, const QStringList& lines);
// The ftp URLs of mime data: the program's own format first, then text. Empty unless
// every non-empty line is an ftp URL.
QStringList FtpUrlLines(const QMimeData& data);
