// The collision policy as a table: what to do with a received file given what its name is in
// the receiving directory.
//
// Thread: none; pure functions.
#pragma once

#include <cstdint>
#include <string>

#include "vxcomm/platform/dirfile.h"
#include "vxcomm/vxftbase/collision.h"

namespace vxcomm {

namespace vxftbase {

// How a received file is stored.
enum class TCollisionStep : std::uint8_t {
  kStore,           // under its name, which is free
  kReplace,         // under its name, replacing the regular file there
  kBackupOld,       // the old file moves to NAME.~N~ first, then the new one takes NAME
  kStoreAsVersion,  // as NAME.~N~, the old file staying
  kRefuse           // not at all
};

struct TCollisionPlan {
  TCollisionStep step;
  // For kRefuse: why, as the end of a sentence about the entry ("is a symbolic link").
  std::string why;
  // For kRefuse: the attribute that decided it ('#', the date), or 0 when it was the name.
  char attribute = 0;
};

// The plan under Policy for a file whose name is Existing in the directory (modified at
// ExistingTime), sent with the date SenderTime (seconds since the epoch; -1 when none).
// Anything there but a regular file refuses it whatever the policy: a symbolic link (to a
// file, to a directory or to nothing), a directory, a device.
TCollisionPlan PlanCollision(TvxFileCollision policy, TvxEntryKind existing,
                             std::int64_t existingTime, std::int64_t senderTime);

// The name of version N of Name: "Name.~N~".
std::string VersionName(const std::string& name, int n);

}  // namespace vxftbase

}  // namespace vxcomm
