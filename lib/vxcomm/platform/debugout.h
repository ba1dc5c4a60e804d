/// @file
/// The debugger output of this platform. Where the system journal runs, each call is one
/// journal record at debug priority under the program's name (journalctl -f shows them, as
/// a debug-output viewer would); elsewhere it is one line on standard error, which a
/// developer running the program from a terminal or under a debugger sees.
///
/// The library writes nothing there unless the application turns the output on: a program
/// that uses it owns its standard error.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <string>

namespace vxcomm {

/// Writes Text as one record or line; control characters go as they are. Nothing while
/// debug output is turned off.
VXCOMM_EXPORT void vxOutputDebugString(const std::string& text);
/// Turns this process's debug output on or off again, from any thread. It starts off; an
/// application that wants the components' debug lines (the open line, the log file's
/// loDebugOut copy) turns it on.
VXCOMM_EXPORT void vxSetDebugOutputEnabled(bool enabled);
/// True while debug output is on.
VXCOMM_EXPORT bool vxDebugOutputEnabled();
/// True when vxOutputDebugString writes to the journal, false for standard error.
VXCOMM_EXPORT bool vxDebugOutputToJournal();

}  // namespace vxcomm
