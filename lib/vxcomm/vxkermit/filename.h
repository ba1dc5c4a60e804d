// File names as they cross the line: what an F packet carries for a file being sent, and
// the name under which a received file is created.
#pragma once

#include <cstddef>
#include <string>

namespace vxcomm {

namespace vxkermit {

// The file-name part of Path (after its last "/"), as bytes, at most MaxLength of them. A
// longer name is cut in its stem so that its extension survives: the part from the last
// "." when that dot is not the name's first byte, the part is at most 16 bytes and some
// of the stem still fits ("long...name.tar.gz" keeps ".gz"). Otherwise the name is cut at
// MaxLength. A cut never splits a UTF-8 character unless nothing would be left before it.
std::string SentFileName(const std::string& path, std::size_t maxLength);

// A peer's file name reduced to one path component that stays inside the receiving
// directory: up to the first NUL, after the last "/" or "\"; an empty name, "." or ".."
// becomes "unnamed".
std::string ReceivedFileName(const std::string& sent);

// A name a peer sent in Kermit's converted form ("TEXT.TXT"), as a Unix user expects it: a
// name with upper-case letters and no lower-case one gets its ASCII letters in lower case
// ("text.txt"); any other name, and every byte outside ASCII, stays as it is ("ReadMe.TXT").
std::string LocalNameOfConverted(const std::string& name);

}  // namespace vxkermit

}  // namespace vxcomm
