/// @file
/// Files named by their bytes: a name is passed to the system exactly as it is, whatever
/// its encoding, so a name that is not valid in the locale still opens, is created and is
/// removed under that same name.
///
/// Thread: any; nothing here keeps state.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <string>

namespace vxcomm {

/// Modes of vxOpenFile.
inline constexpr int vxOpenRead = 0;
inline constexpr int vxOpenWrite = 1;
inline constexpr int vxOpenReadWrite = 2;
/// Creates the file, or empties one of the same name; open for reading and writing. A new
/// file gets the permissions 0666 less the process's umask.
inline constexpr int vxOpenCreate = 3;

/// Opens Name in Mode and returns its descriptor (close-on-exec, blocking I/O), which the
/// caller owns. A directory is refused in every mode; opening never waits for a FIFO's
/// other end or a terminal's carrier. On failure returns -1 and sets Error to the system's
/// reason ("No such file or directory", "Is a directory", ...). A name holding a NUL byte
/// is refused with "Invalid argument": the system would see only its first part.
VXCOMM_EXPORT int vxOpenFile(const std::string& name, int mode, std::string& error);

/// Removes the file Name; true when it was there and is gone. A directory is not removed.
VXCOMM_EXPORT bool vxRemoveFile(const std::string& name);

/// True when an entry named Name exists (a dangling symbolic link counts as one).
VXCOMM_EXPORT bool vxFileExists(const std::string& name);

/// True when Path is a directory in which this process may create files (write and search
/// permission for its effective user). Otherwise false with Reason the system's text:
/// "No such file or directory", "Not a directory", "Permission denied",
/// "Read-only file system", ...
VXCOMM_EXPORT bool vxWritableDirectory(const std::string& path, std::string& reason);

/// The time of the last change of Name's contents, in seconds since the epoch, or -1 when it
/// cannot be read.
VXCOMM_EXPORT std::int64_t vxFileModifiedTime(const std::string& name);

/// Sets the time of the last change (and of the last access) of Name to Seconds since the
/// epoch; false when the system refuses.
VXCOMM_EXPORT bool vxSetFileModifiedTime(const std::string& name, std::int64_t seconds);

}  // namespace vxcomm
