/// @file
/// Types shared by every unit of the library: sizes, handles, events and detail levels.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "vxcomm/rtl/delegate.h"
#include "vxcomm/rtl/sysutils.h"

namespace vxcomm {

/// An unsigned 32-bit number.
using Cardinal = std::uint32_t;

/// An open medium: a file descriptor or a descendant's own token; -1 when closed.
using THandle = std::intptr_t;
/// The handle of a closed medium.
inline constexpr THandle INVALID_HANDLE_VALUE = -1;

/// The detail level of a log entry: simple, detailed or debug.
enum TDetailLevel : std::uint8_t { dlSimple = 0, dlDetail = 1, dlDebug = 2 };

/// An event that only names its sender.
using TNotifyEvent = std::function<void(TObject* sender)>;
/// The fatal-error event of every component; clearing RaiseException suppresses the raise.
using TOnFatalErrorEvent = std::function<void(TObject* sender, Cardinal errorCode, Cardinal detail,
                                              const std::string& errorMsg, bool& raiseException)>;

}  // namespace vxcomm
