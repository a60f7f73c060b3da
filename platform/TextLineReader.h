#pragma once
// Reads a text file one whole line at a time. Lines end with LF, CR LF or CR CR LF (files
// written on either platform, and list files holding a CR LF listing written in text
// mode); the line ends are not part of the line. A line longer than kMaxLineLength is
// never split into several lines: it is either skipped whole (listings: a bogus entry is
// worse than none) or cut to its first kMaxLineLength bytes (files read by position, such
// as the site file, where a missing line would shift every later field).
//
// Usage: CTextLineReader reader(COverlongLine::Cut); if (reader.Open(path)) while
// (reader.ReadLine(line)) ...

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class COverlongLine { Skip, Cut };

class CTextLineReader {
public:
    static constexpr std::size_t kMaxLineLength = 64 * 1024;

    explicit CTextLineReader(COverlongLine overlong = COverlongLine::Skip);
    ~CTextLineReader();
    CTextLineReader(const CTextLineReader&) = delete;
    CTextLineReader& operator=(const CTextLineReader&) = delete;

    // Opens the file for reading; false when it cannot be opened or is not a file.
    bool Open(const std::string& path);
    void Close();

    // The next line, valid until the next call. False at the end of the file or on a
    // read error.
    bool ReadLine(std::string_view& line);
    // The same, copied.
    bool ReadLine(std::string& line);

    // Lines dropped (or cut) because they were longer than kMaxLineLength.
    std::size_t SkippedLongLines() const { return m_skippedLongLines; }

private:
    bool Refill();

    int m_fd = -1;
    std::vector<char> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    bool m_eof = false;
    long long m_unreadBytes = 0; // of the size the file had when it was opened
    std::size_t m_skippedLongLines = 0;
    COverlongLine m_overlong;
    std::string m_cutLine; // the kept start of an over-long line in Cut mode
};
