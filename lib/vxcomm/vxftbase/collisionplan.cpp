#include "vxcomm/vxftbase/collisionplan.h"

namespace vxcomm {

namespace vxftbase {

TCollisionPlan PlanCollision(TvxFileCollision policy, TvxEntryKind existing,
                             std::int64_t existingTime, std::int64_t senderTime) {
  switch (existing) {
    case ekNone:
      return {TCollisionStep::kStore, {}};
    case ekLink:
      return {TCollisionStep::kRefuse, "is a symbolic link"};
    case ekDirectory:
      return {TCollisionStep::kRefuse, "is a directory"};
    case ekOther:
      return {TCollisionStep::kRefuse, "is not a regular file"};
    case ekFile:
      break;
  }
  switch (policy) {
    case fcOverwrite:
      return {TCollisionStep::kReplace, {}};
    case fcBackup:
      return {TCollisionStep::kBackupOld, {}};
    case fcRename:
      return {TCollisionStep::kStoreAsVersion, {}};
    case fcDiscard:
      return {TCollisionStep::kRefuse, "exists"};
    case fcUpdate:
      if (senderTime < 0)
        return {TCollisionStep::kRefuse, "exists and the sender gave no date to compare", '#'};
      if (senderTime <= existingTime)
        return {TCollisionStep::kRefuse, "is as new as the file sent or newer", '#'};
      return {TCollisionStep::kReplace, {}};
  }
  return {TCollisionStep::kRefuse, "exists"};
}

std::string VersionName(const std::string& name, int n) {
  return name + ".~" + std::to_string(n) + "~";
}

}  // namespace vxftbase

}  // namespace vxcomm
