// File names as they cross the line: what an F packet carries for a file being sent, and
// the name under which a received file is created.
#pragma once

#include <cstddef>
#include <string>

namespace vxkermit {

// The file-name part of Path, cut to its first MaxLength characters.
std::string SentFileName(const std::string& path, std::size_t maxLength);

// A peer's file name reduced to one path component that stays inside the receiving
// directory: up to the first NUL, after the last "/" or "\"; an empty name, "." or ".."
// becomes "unnamed".
std::string ReceivedFileName(const std::string& sent);

}  // namespace vxkermit
