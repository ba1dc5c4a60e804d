/// @file
/// The debugger output of this platform. Where the system journal runs, each call is one
/// journal record at debug priority under the program's name (journalctl -f shows them, as
/// a debug-output viewer would); elsewhere it is one line on standard error, which a
/// developer running the program from a terminal or under a debugger sees.
#pragma once

#include "vxcomm_export.h"

#include <string>

/// Writes Text as one record or line; control characters go as they are. Nothing while
/// debug output is turned off.
VXCOMM_EXPORT void vxOutputDebugString(const std::string& text);
/// Turns this process's debug output off or back on (it starts on), from any thread: a
/// command-line program whose standard error belongs to its user turns it off.
VXCOMM_EXPORT void vxSetDebugOutputEnabled(bool enabled);
/// True when vxOutputDebugString writes to the journal, false for standard error.
VXCOMM_EXPORT bool vxDebugOutputToJournal();
