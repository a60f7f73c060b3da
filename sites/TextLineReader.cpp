#include "sites/TextLineReader.h"

namespace sites {

TextLineReader::TextLineReader(const std::string& path)
    : m_file(std::fopen(path.c_str(), "rb"))
{
}

TextLineReader::~TextLineReader()
{
    if (m_file)
        std::fclose(m_file);
}

bool TextLineReader::ReadLine(std::string& line)
{
    line.clear();
    if (!m_file)
        return false;
    bool sawAnything = false;
    int c;
    while ((c = std::getc(m_file)) != EOF) {
        sawAnything = true;
        if (c == '\n')
            break;
        if (line.size() < kMaxLineLength)
            line += static_cast<char>(c);
    }
    if (!sawAnything)
        return false;
    // CR LF, and CR CR LF from a CR LF file that went through a text-mode copy.
    for (int i = 0; i < 2 && !line.empty() && line.back() == '\r'; ++i)
        line.pop_back();
    return true;
}

} // namespace sites
