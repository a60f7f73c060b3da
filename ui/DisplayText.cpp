#include "ui/DisplayText.h"

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there starts none
// (overlong forms, surrogates and values past U+10FFFF count as invalid).
std::size_t ValidSequenceLength(std::string_view bytes, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned minSecond = 0x80, maxSecond = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            minSecond = 0xA0;
        if (lead == 0xED)
            maxSecond = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            minSecond = 0x90;
        if (lead == 0xF4)
            maxSecond = 0x8F;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    if (byte(at + 1) < minSecond || byte(at + 1) > maxSecond)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

} // namespace

QString DisplayText(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    std::size_t runStart = 0;
    std::size_t i = 0;
    const auto flushRun = [&](std::size_t end) {
        if (end > runStart)
            text += QString::fromUtf8(bytes.data() + runStart, static_cast<qsizetype>(end - runStart));
    };
    while (i < bytes.size()) {
        const std::size_t length = ValidSequenceLength(bytes, i);
        if (length > 0) {
            i += length;
            continue;
        }
        flushRun(i);
        const auto value = static_cast<unsigned char>(bytes[i]);
        text += QLatin1String("\\x") + QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        ++i;
        runStart = i;
    }
    flushRun(i);
    return text;
}

std::string EngineText(const QString& text)
{
    return text.toStdString();
}

namespace {

bool IsHexDigit(char32_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

QString ByteEscape(unsigned char value)
{
    return QLatin1String("\\x") + QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

} // namespace

QString EditableText(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    std::size_t runStart = 0;
    std::size_t i = 0;
    const auto flushRun = [&](std::size_t end) {
        if (end > runStart)
            text += QString::fromUtf8(bytes.data() + runStart, static_cast<qsizetype>(end - runStart));
    };
    while (i < bytes.size()) {
        const auto value = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = ValidSequenceLength(bytes, i);
        const bool control = value < 0x20 || value == 0x7F;
        const bool readsAsEscape = value == '\\' && i + 3 < bytes.size() && bytes[i + 1] == 'x' &&
                                   IsHexDigit(static_cast<unsigned char>(bytes[i + 2])) &&
                                   IsHexDigit(static_cast<unsigned char>(bytes[i + 3]));
        if (length > 0 && !control && !readsAsEscape) {
            i += length;
            continue;
        }
        flushRun(i);
        text += ByteEscape(value);
        ++i;
        runStart = i;
    }
    flushRun(i);
    return text;
}

std::string BytesFromEditableText(const QString& text)
{
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    qsizetype runStart = 0;
    const auto flushRun = [&](qsizetype end) {
        if (end > runStart)
            bytes += QStringView(text).mid(runStart, end - runStart).toUtf8().toStdString();
    };
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i] == QLatin1Char('\\') && i + 3 < text.size() && text[i + 1] == QLatin1Char('x') &&
            IsHexDigit(text[i + 2].unicode()) && IsHexDigit(text[i + 3].unicode())) {
            flushRun(i);
            bytes += static_cast<char>(text.mid(i + 2, 2).toUInt(nullptr, 16));
            i += 4;
            runStart = i;
            continue;
        }
        ++i;
    }
    flushRun(i);
    return bytes;
}
