#include "ftp/RemotePath.h"

#include <cctype>

namespace {

std::string WithTrailingSeparator(std::string_view path)
{
    // A path without any separator is given the backslash.
    char separator = path.find('/') != std::string_view::npos ? '/' : '\\';
    std::string result(path);
    if (result.empty() || result.back() != separator)
        result += separator;
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace

bool SamePath(std::string_view a, std::string_view b)
{
    return WithTrailingSeparator(a) == WithTrailingSeparator(b);
}

std::string RemoteDirectoryOf(std::string_view path)
{
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::string TrimBlanks(std::string_view text)
{
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    std::size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

bool IsSafeLocalFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}
