/// @file
/// The version text of a file or of the operating system, as the log header shows it.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <string>

namespace vxcomm {

/// With a FileName: Fmt (empty means "%u.%u.%u.%u") formatted with the four numbers of the
/// file's version (the version a shared object's real file name carries); empty for a file
/// without one. With an empty FileName: "<kernel> <distribution> [<release>] <build>", such
/// as "Linux Debian GNU/Linux 12 (bookworm) [6.1.0-18-amd64] #1 SMP Debian 6.1.76-1";
/// without a distribution name two blanks stand before the bracket. Empty when the system
/// cannot tell. A Fmt that does not fit four numbers throws EConvertError.
VXCOMM_EXPORT std::string GetVersionText(const std::string& fileName, const std::string& fmt = "");

}  // namespace vxcomm
