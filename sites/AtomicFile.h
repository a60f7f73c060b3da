#pragma once
// Replaces a file as a whole: the new contents go to a temporary file in the same folder,
// are flushed to disk, and the temporary file is renamed over the old one. A crash or a
// full disk leaves either the old file or the new one, never a truncated one.

#include <string>
#include <string_view>
#include <sys/types.h>

namespace sites {

// mode: permission bits of the new file (before the umask). On failure returns false,
// leaves the old file untouched and puts the reason in *error when given.
bool WriteFileAtomically(const std::string& path, std::string_view contents, mode_t mode = 0644,
                         std::string* error = nullptr);

// The whole file as bytes; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& contents);

} // namespace sites
