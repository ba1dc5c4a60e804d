// How a program left a serial line it used: the line's terminal settings, to compare with
// those it had before, and the lock files still in force for it.
#pragma once

#include <termios.h>

#include <string>
#include <vector>

// The terminal settings of the device at Path, read through a descriptor of its own.
struct termios LineSettingsOf(const std::string& path);
// True when A and B set the same flags, speeds and control characters.
bool SameLineSettings(const struct termios& a, const struct termios& b);
// The UUCP lock files that exist for Device (none once the program using it has gone).
std::vector<std::string> LockFilesOf(const std::string& device);
