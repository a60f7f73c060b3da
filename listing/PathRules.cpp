#include "listing/PathRules.h"

bool EndsWithSeparator(std::string_view path)
{
    return !path.empty() && path.back() == kPathSeparator;
}

std::string JoinPath(std::string_view base, std::string_view name)
{
    std::string joined(base);
    if (!joined.empty() && !EndsWithSeparator(joined))
        joined += kPathSeparator;
    joined += name;
    return joined;
}

std::string TrimTrailingSeparator(std::string_view path)
{
    if (EndsWithSeparator(path) && path.size() > 1 && path[path.size() - 2] != ':')
        path.remove_suffix(1);
    return std::string(path);
}

std::string ParentPath(std::string_view path)
{
    if (EndsWithSeparator(path))
        path.remove_suffix(1);
    const std::size_t last = path.rfind(kPathSeparator);
    if (last == std::string_view::npos)
        return {};
    return TrimTrailingSeparator(path.substr(0, last + 1));
}

std::string FileNamePart(std::string_view path)
{
    if (path.size() == 1 && path[0] == kPathSeparator)
        return std::string(path);
    if (EndsWithSeparator(path))
        path.remove_suffix(1);
    const std::size_t last = path.rfind(kPathSeparator);
    return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}
