// The attribute (A) packet's data field: entries of letter, tochar(length), value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxkermit {

// This side's attributes for a file of Size bytes: the length in K, "!", as Size div 1024 + 1;
// with Exact also the length in bytes, "1"; with Modified at 0 or above also the file's date,
// "#", from those seconds since the epoch, in local time as "yyyymmdd hh:mm:ss".
std::string BuildAttributes(std::int64_t size, bool exact = false, std::int64_t modified = -1);

// The seconds since the epoch of a date attribute "[yy]yymmdd[ hh:mm[:ss]]" in local time
// (a two-digit year is 19yy), or -1 when Text is not such a date.
std::int64_t ParseAttributeDate(const std::string& text);

// The value of the first entry with Letter in a data field, empty when there is none. The
// walk stops at the field's end or at a length character of 32 or below.
std::string GetAttribute(const std::uint8_t* field, std::size_t len, char letter);

// The announced size of a file in bytes: the exact length "1" when given, else the length
// in K "!" (0 when missing or not a number) times 1024 plus 1. Clamped to the 32-bit range.
std::int32_t AnnouncedSize(const std::uint8_t* field, std::size_t len);

}  // namespace vxkermit
