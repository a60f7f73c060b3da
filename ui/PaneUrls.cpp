#include "ui/PaneUrls.h"

#include "sites/FtpUrl.h"

#include <QMimeData>

namespace {

bool IsSafeUrlByte(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '-': case '.': case '_': case '~': case '/': case '!': case '$': case '&':
    case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
    case ':': case '@':
        return true;
    default:
        return false;
    }
}

} // namespace

std::string EscapeUrlPath(std::string_view path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(path.size());
    for (const char byte : path) {
        const auto c = static_cast<unsigned char>(byte);
        if (IsSafeUrlByte(c)) {
            escaped += byte;
        } else {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 0xF];
        }
    }
    return escaped;
}

QString RemoteEntryUrl(const std::string& host, int port, const std::string& fullPath)
{
    const std::string path = fullPath.empty() || fullPath.front() != '/' ? "/" + fullPath : fullPath;
    // The host is the site's address as the user gave it; the path is pure ASCII now.
    return QStringLiteral("ftp://") + QString::fromStdString(UrlHostPort(host, port)) +
           QString::fromLatin1(EscapeUrlPath(path));
}

void SetUrlLines(QMimeData& data, const QStringList& lines)
{
    const QString text = lines.join(QStringLiteral("\r\n"));
    data.setText(text);
    data.setData(QString::fromLatin1(kTollvaneUrlMime), text.toUtf8());
}

QStringList FtpUrlLines(const QMimeData& data)
{
    QString text;
    if (data.hasFormat(QString::fromLatin1(kTollvaneUrlMime)))
        text = QString::fromUtf8(data.data(QString::fromLatin1(kTollvaneUrlMime)));
    else if (data.hasText())
        text = data.text();
    QStringList urls;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (!line.startsWith(QStringLiteral("ftp://"), Qt::CaseInsensitive))
            return {};
        urls.push_back(line);
    }
    return urls;
}
