// A file being received into a directory: written under a hidden name in that directory
// (".NAME.vxpart") and given its name only once it is complete, so a partial file never
// sits under the real name; a resend appends to that part, or to a file NAME in place. Every entry
// is reached through the directory's descriptor and never through a symbolic link, so nothing
// outside the directory is touched, whatever its entries are.
//
// Thread: none; the owner's thread.
#pragma once

#include <cstdint>
#include <string>

#include "vxcomm/vxftbase/collision.h"
#include "vxcomm/vxftbase/collisionplan.h"

namespace vxcomm {

namespace vxftbase {

class TIncomingFile {
 public:
  // For the received file Name (one entry, no "/") in Dir (empty: the current directory,
  // else ending in "/"). Throws EFCreateError with the system's reason when Dir cannot be
  // opened or Name is not one entry.
  TIncomingFile(const std::string& dir, const std::string& name);
  // A file that was not stored: its part stays (as PartName) unless KeepPartial(false) said
  // otherwise. Closes the directory.
  ~TIncomingFile();
  TIncomingFile(const TIncomingFile&) = delete;
  TIncomingFile& operator=(const TIncomingFile&) = delete;

  // Dir followed by Name: the name the file gets, as a message shows it.
  std::string Path() const { return dir_ + name_; }
  // Dir followed by the name the file was stored under (Path until then).
  std::string StoredPath() const { return dir_ + stored_; }
  // True while the file is written under its own name (recovery appends to it).
  bool InPlace() const { return temp_.empty(); }

  // The hidden name ".Name.vxpart" the file has until it is complete, and keeps when a
  // broken transfer leaves its part for a resend.
  std::string PartName() const;
  // Opens what Dir holds of the file as it is, to be appended to: the part an earlier
  // transfer left (PartName), else the regular file Name itself (in place). Its descriptor,
  // which the caller owns, or -1 when there is neither.
  int OpenExisting();
  // Creates the file empty under PartName (replacing a part left there) or, when that
  // cannot be, under another free hidden name; returns its descriptor (the caller owns it).
  // A file Name opened by OpenExisting is left as it was. Throws EFCreateError.
  int CreateTemporary();
  // The plan under Policy for this file, dated SenderTime by its sender (-1: no date),
  // against what Name is now.
  TCollisionPlan Plan(TvxFileCollision policy, std::int64_t senderTime) const;
  // The sentence that says why Plan refuses the file.
  std::string Refusal(const TCollisionPlan& plan) const;
  // Stores the complete file under Policy (a file in place stays where it is) and, with
  // Modified at 0 or above, gives it that time. Returns what was done to an old file, for
  // the log ("" when nothing). Throws EWriteError with the system's reason, or with the
  // refusal when the name became unusable since Plan.
  std::string Store(TvxFileCollision policy, std::int64_t senderTime, std::int64_t modified);
  // Removes the file: the temporary one, or the file in place.
  void Remove();
  // Whether what was received of a file that is not stored stays, as PartName, for a resend
  // to finish (the default), or goes.
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
  bool keep_partial_ = true;
};

}  // namespace vxftbase

}  // namespace vxcomm
