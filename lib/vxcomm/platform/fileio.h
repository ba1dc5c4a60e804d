// Reads, writes and the other operations of an open file descriptor, each failure with the
// system's reason ("No space left on device", "Disk quota exceeded", "File too large",
// "Input/output error").
//
// Thread: any; nothing here keeps state.
#pragma once

#include <cstdint>
#include <string>

namespace vxcomm {

// Up to Count bytes at the descriptor's position: the bytes read (0 at the end), or -1
// with Error.
std::int64_t vxReadFile(int fd, void* buffer, std::int64_t count, std::string& error);

// All Count bytes at the descriptor's position, or false with Error: a write that takes
// fewer bytes goes on with the rest, so a short write shows as the failure that stopped it.
bool vxWriteFile(int fd, const void* buffer, std::int64_t count, std::string& error);

// Moves the descriptor to Position; false with Error.
bool vxSeekFile(int fd, std::int64_t position, std::string& error);

// The file's size, or -1 with Error.
std::int64_t vxFileSize(int fd, std::string& error);
// The modification time of the open file Fd in seconds since the epoch; -1 on failure.
std::int64_t vxFileModifiedTime(int fd);

// Truncates or extends the file to Size; false with Error.
bool vxResizeFile(int fd, std::int64_t size, std::string& error);

// Hands what the system holds of the file's data to the device, so that a failure the
// file system defers (a full disk, a quota, an I/O error) is seen here; false with Error.
bool vxSyncFile(int fd, std::string& error);

// Sets the file's modification and access times to Seconds and Nanoseconds since the
// epoch; false with Error.
bool vxSetFileTime(int fd, std::int64_t seconds, long nanoseconds, std::string& error);

// Closes the descriptor; false with Error when the system reports a failure of the file's
// last writes at the close (the descriptor is closed all the same).
bool vxCloseFile(int fd, std::string& error);

}  // namespace vxcomm
