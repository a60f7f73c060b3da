#pragma once
// Reads a text file one whole line at a time. Accepts LF, CR LF and CR CR LF line ends,
// so files written on either platform read the same. A line longer than kMaxLineLength
// keeps its first kMaxLineLength bytes and the rest of it is skipped, so an over-long
// value never spills into the next line and shifts the fields after it.
//
// Meant to be shared by every reader of the program's text files (site file, history
// files, queue files).

#include <cstdio>
#include <string>

namespace sites {

class TextLineReader {
public:
    static constexpr size_t kMaxLineLength = 64 * 1024;

    // Opens the file for reading; IsOpen() tells whether that worked.
    explicit TextLineReader(const std::string& path);
    ~TextLineReader();
    TextLineReader(const TextLineReader&) = delete;
    TextLineReader& operator=(const TextLineReader&) = delete;

    bool IsOpen() const { return m_file != nullptr; }

    // The next line without its line end; false at end of file. A last line without a
    // line end is still a line.
    bool ReadLine(std::string& line);

private:
    std::FILE* m_file = nullptr;
};

} // namespace sites
