// A file being received into a directory: written under a temporary name in that directory
// and given its name only once it is complete (a partial file never sits under the real
// name), or appended to in place when recovery asks for it. Every entry is reached through
// the directory's descriptor and never through a symbolic link, so nothing outside the
// directory is touched, whatever its entries are.
//
// Thread: none; the owner's thread.
#pragma once

#include <cstdint>
#include <string>

#include "vxftbase/collision.h"
#include "vxftbase/collisionplan.h"

namespace vxftbase {

class TIncomingFile {
 public:
  // For the received file Name (one entry, no "/") in Dir (empty: the current directory,
  // else ending in "/"). Throws EFCreateError with the system's reason when Dir cannot be
  // opened or Name is not one entry.
  TIncomingFile(const std::string& dir, const std::string& name);
  // A file that was not stored: its temporary file takes Name when it should be kept as a
  // partial copy (KeepPartial) and Name is free, else it is removed. Closes the directory.
  ~TIncomingFile();
  TIncomingFile(const TIncomingFile&) = delete;
  TIncomingFile& operator=(const TIncomingFile&) = delete;

  // Dir followed by Name: the name the file gets, as a message shows it.
  std::string Path() const { return dir_ + name_; }
  // Dir followed by the name the file was stored under (Path until then).
  std::string StoredPath() const { return dir_ + stored_; }
  // True while the file is written under its own name (recovery appends to it).
  bool InPlace() const { return temp_.empty(); }

  // Opens the regular file Name as it is, to be appended to in place: its descriptor, which
  // the caller owns, or -1 when Name is not a regular file or cannot be opened.
  int OpenExisting();
  // Creates a new temporary file in Dir and returns its descriptor (the caller owns it); a
  // file opened by OpenExisting is left as it was. Throws EFCreateError.
  int CreateTemporary();
  // The plan under Policy for this file, dated SenderTime by its sender (-1: no date),
  // against what Name is now.
  TCollisionPlan Plan(TvxFileCollision policy, std::int64_t senderTime) const;
  // The sentence that says why Plan refuses the file.
  std::string Refusal(const TCollisionPlan& plan) const;
  // The temporary file takes Name at once, for recovery to append to later: false when Name
  // is taken. Throws EFCreateError when the rename fails.
  bool TakeName();
  // Stores the complete file under Policy (a file in place stays where it is) and, with
  // Modified at 0 or above, gives it that time. Returns what was done to an old file, for
  // the log ("" when nothing). Throws EWriteError with the system's reason, or with the
  // refusal when the name became unusable since Plan.
  std::string Store(TvxFileCollision policy, std::int64_t senderTime, std::int64_t modified);
  // Removes the file: the temporary one, or the file in place.
  void Remove();
  // Whether what was received of a file that is not stored stays, under Name, for a resend to
  // finish (never replacing anything), or goes (the default).
  void KeepPartial(bool value) { keep_partial_ = value; }

 private:
  // Renames the temporary file to the first free version of Name; returns that name.
  std::string MoveToFreeVersion(const std::string& from);

  int dir_fd_ = -1;
  std::string dir_;
  std::string name_;
  std::string temp_;    ///< the temporary entry; empty while the file is written in place
  std::string stored_;  ///< the entry the file is stored under
  bool kept_ = false;   ///< stored or removed: the destructor leaves it alone
  bool keep_partial_ = false;
};

}  // namespace vxftbase
