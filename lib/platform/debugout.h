// The debugger output of this platform: one line per call on standard error, so that a
// developer running the program from a terminal (or under a debugger) sees it.
#pragma once

#include <string>

// Writes Text, with control characters as they are, followed by a line end.
void vxOutputDebugString(const std::string& text);
