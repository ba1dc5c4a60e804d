#include "vxcomm/vxftbase/incomingfile.h"

#include <QCoreApplication>
#include <atomic>

#include "vxcomm/platform/dirfile.h"
#include "vxcomm/platform/handles.h"
#include "vxcomm/vxftbase/filestream.h"

namespace vxcomm {

namespace vxftbase {

namespace {

// Versions and temporary names tried before giving up.
constexpr int kMaxTries = 100000;

}  // namespace

TIncomingFile::TIncomingFile(const std::string& dir, const std::string& name)
    : dir_(dir), name_(name), stored_(name) {
  std::string error;
  dir_fd_ = vxOpenDirectory(dir, error);
  if (dir_fd_ < 0) throw EFCreateError("Cannot create file \"" + Path() + "\". " + error);
}

TIncomingFile::~TIncomingFile() {
  // A part is kept only under the name a resend looks for.
  if (!kept_ && !temp_.empty() && !(keep_partial_ && temp_ == PartName()))
    vxRemoveEntry(dir_fd_, temp_);
  vxCloseHandle(dir_fd_);
}

std::string TIncomingFile::PartName() const {
  return "." + name_ + ".vxpart";
}

int TIncomingFile::OpenExisting() {
  std::string error;
  // The part an earlier transfer left first: it is the file a resend continues.
  int fd = vxOpenEntry(dir_fd_, PartName(), error);
  if (fd >= 0) {
    temp_ = PartName();
    return fd;
  }
  fd = vxOpenEntry(dir_fd_, name_, error);
  if (fd >= 0) temp_.clear();
  return fd;
}

int TIncomingFile::CreateTemporary() {
  std::string error;
  TvxEntryResult result;
  int fd = vxCreateEntry(dir_fd_, PartName(), result, error);
  // A part an earlier transfer left (or a link of that name) is not wanted now.
  const TvxEntryKind kind = result == erExists ? vxEntryKind(dir_fd_, PartName()) : ekNone;
  if ((kind == ekFile || kind == ekLink) && vxRemoveEntry(dir_fd_, PartName()))
    fd = vxCreateEntry(dir_fd_, PartName(), result, error);
  if (fd >= 0) {
    temp_ = PartName();
    return fd;
  }
  // The name is too long for the suffix, or taken by a directory: any free name will do.
  // Shared by the components of every thread.
  static std::atomic<unsigned> counter{0};
  for (int i = 0; i < kMaxTries; ++i) {
    const std::string temp = ".vxpart." + std::to_string(QCoreApplication::applicationPid()) + "." +
                             std::to_string(++counter);
    fd = vxCreateEntry(dir_fd_, temp, result, error);
    if (result == erExists) continue;
    if (fd < 0) break;
    temp_ = temp;
    return fd;
  }
  throw EFCreateError("Cannot create file \"" + Path() + "\". " + error);
}

TCollisionPlan TIncomingFile::Plan(TvxFileCollision policy, std::int64_t senderTime) const {
  std::int64_t modified = -1;
  const TvxEntryKind kind = vxEntryKind(dir_fd_, name_, &modified);
  return PlanCollision(policy, kind, modified, senderTime);
}

std::string TIncomingFile::Refusal(const TCollisionPlan& plan) const {
  return Path() + " " + plan.why + ": the file received under that name is refused.";
}

std::string TIncomingFile::MoveToFreeVersion(const std::string& from) {
  std::string error;
  for (int n = 1; n <= kMaxTries; ++n) {
    const std::string version = VersionName(name_, n);
    const TvxEntryResult done = vxRenameEntry(dir_fd_, from, version, false, error);
    if (done == erDone) return version;
    if (done == erFailed) break;
  }
  throw EWriteError("Cannot store \"" + Path() + "\". " +
                    (error.empty() ? std::string("No free version name") : error));
}

std::string TIncomingFile::Store(TvxFileCollision policy, std::int64_t senderTime,
                                 std::int64_t modified) {
  std::string note;
  if (!temp_.empty()) {
    const TCollisionPlan plan = Plan(policy, senderTime);
    std::string error;
    TvxEntryResult done = erFailed;
    switch (plan.step) {
      case TCollisionStep::kRefuse:
        throw EWriteError(Refusal(plan));
      case TCollisionStep::kBackupOld:
        note = Path() + " kept as " + dir_ + MoveToFreeVersion(name_);
        [[fallthrough]];
      case TCollisionStep::kStore:
        done = vxRenameEntry(dir_fd_, temp_, name_, false, error);
        // Taken since it was looked at: it keeps its file, the new one becomes a version.
        if (done == erExists) {
          stored_ = MoveToFreeVersion(temp_);
          done = erDone;
        }
        break;
      case TCollisionStep::kReplace:
        done = vxRenameEntry(dir_fd_, temp_, name_, true, error);
        note = Path() + " replaced";
        break;
      case TCollisionStep::kStoreAsVersion:
        stored_ = MoveToFreeVersion(temp_);
        done = erDone;
        break;
    }
    if (done != erDone) throw EWriteError("Cannot store \"" + Path() + "\". " + error);
    temp_.clear();
  }
  kept_ = true;
  if (modified >= 0) vxSetEntryTime(dir_fd_, stored_, modified);
  return note;
}

void TIncomingFile::Remove() {
  vxRemoveEntry(dir_fd_, temp_.empty() ? name_ : temp_);
  temp_.clear();
  kept_ = true;
}

}  // namespace vxftbase

}  // namespace vxcomm
