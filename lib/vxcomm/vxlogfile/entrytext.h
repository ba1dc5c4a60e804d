// The text of one log entry: the time-stamp prefix and the escaped message.
#pragma once

#include <string>

#include "vxcomm/vxlogfile/logoptions.h"

namespace vxcomm {

// "[" date, time and " +000" as Options ask, trimmed, "] "; empty when none is asked.
// Date and Time are the texts of one instant; with loMSec the caller writes that
// instant's milliseconds over the "000", which then stands 5 bytes before the end.
std::string BuildEntryPrefix(TLogOptions options, const std::string& date, const std::string& time);
// Appends Text to Out with every byte below 32 written as "\" two hex digits "h"
// (carriage return as \0Dh); every other byte, backslash and 128 to 255 included, as it is.
void AppendEscaped(std::string& out, const std::string& text);

}  // namespace vxcomm
