// Files inside one directory, reached through an open descriptor of it: a name is a single
// entry of that directory, never followed when it is a symbolic link, so whatever the
// entries are, nothing outside the directory is created, written, renamed or removed.
//
// Thread: any; nothing here keeps state.
#pragma once

#include <cstdint>
#include <string>

namespace vxcomm {

// What an entry of a directory is, looked at without following it.
enum TvxEntryKind : std::uint8_t {
  ekNone,       // no such entry
  ekFile,       // a regular file
  ekLink,       // a symbolic link, whatever it points to (or nothing)
  ekDirectory,  // a directory
  ekOther       // a FIFO, a device, a socket
};

// The outcome of an operation that may find its target taken.
enum TvxEntryResult : std::uint8_t { erDone, erExists, erFailed };

// Opens the directory Path (a symbolic link given as Path is followed: the user named it)
// and returns its descriptor (close-on-exec), which the caller owns; -1 with Error the
// system's reason otherwise. An empty Path is the current directory.
int vxOpenDirectory(const std::string& path, std::string& error);

// What Name is in the directory DirFd; with Modified set, its modification time in seconds
// since the epoch is stored there (for an entry that exists).
TvxEntryKind vxEntryKind(int dirFd, const std::string& name, std::int64_t* modified = nullptr);

// Creates the new regular file Name in DirFd for reading and writing (permissions 0666 less
// the umask) and returns its descriptor (close-on-exec, blocking), which the caller owns.
// erExists in Result when an entry of that name is there already (a link included), erFailed
// with Error the system's reason for anything else.
int vxCreateEntry(int dirFd, const std::string& name, TvxEntryResult& result, std::string& error);

// Opens the existing regular file Name in DirFd for reading and writing without emptying it;
// a symbolic link, a directory or anything else is refused ("Too many levels of symbolic
// links", "Is a directory", ...). -1 with Error on failure.
int vxOpenEntry(int dirFd, const std::string& name, std::string& error);

// Renames the entry From to To inside DirFd. With Replace an entry To is replaced (a
// symbolic link named To is itself replaced, never followed); without it erExists when To
// is taken. erFailed with Error the system's reason otherwise.
TvxEntryResult vxRenameEntry(int dirFd, const std::string& from, const std::string& to,
                             bool replace, std::string& error);

// Removes the entry Name (not a directory) from DirFd; true when it was there and is gone.
bool vxRemoveEntry(int dirFd, const std::string& name);

// Sets the modification (and access) time of the entry Name in DirFd, not following a
// link, to Seconds since the epoch; false when the system refuses.
bool vxSetEntryTime(int dirFd, const std::string& name, std::int64_t seconds);

}  // namespace vxcomm
