// The receiving side of TvxCustomFileTransfer: where a received file is written, and how it
// takes its name (the collision policy).
#include "vxcomm/vxftbase.h"
#include "vxcomm/vxftbase/incomingfile.h"

namespace vxcomm {

using vxftbase::TCollisionPlan;
using vxftbase::TCollisionStep;
using vxftbase::TIncomingFile;

bool TvxCustomFileTransfer::OpenIncomingFile(const std::string& name, bool resume) {
  CloseTransferFile();
  file_refusal_.clear();
  if (name.find('/') != std::string::npos)
    throw EFCreateError("Cannot create file \"" + default_path_ + name +
                        "\". Not a name in the receiving directory");
  auto incoming = std::make_unique<TIncomingFile>(default_path_, name);
  const int existing = resume ? incoming->OpenExisting() : -1;
  const int fd = existing >= 0 ? existing : incoming->CreateTemporary();
  file_stream_ = std::make_unique<TvxFileStream>(fd, incoming->Path());
  file_name_ = incoming->Path();
  incoming_ = std::move(incoming);
  FireEvent(OnFileStart, "OnFileStart");
  return existing >= 0;
}

void TvxCustomFileTransfer::RestartIncomingFile() {
  if (!incoming_) return;
  const int fd = incoming_->CreateTemporary();
  file_stream_ = std::make_unique<TvxFileStream>(fd, incoming_->Path());
}

std::string TvxCustomFileTransfer::IncomingRefusal(std::int64_t senderTime, char* attribute) const {
  if (attribute) *attribute = 0;
  if (!incoming_ || incoming_->InPlace()) return {};
  const TCollisionPlan plan = incoming_->Plan(collision_, senderTime);
  if (plan.step != TCollisionStep::kRefuse) return {};
  if (attribute) *attribute = plan.attribute;
  return incoming_->Refusal(plan);
}

void TvxCustomFileTransfer::RefuseIncomingFile(const std::string& reason) {
  file_refusal_ = reason;
  LogMsg(dlSimple, reason);
  // Nothing of a refused file stays, not even a part for a resend.
  if (incoming_ && !incoming_->InPlace()) incoming_->Remove();
  CloseTransferFile();
}

void TvxCustomFileTransfer::StoreIncomingFile(std::int64_t senderTime, std::int64_t modified) {
  if (!file_stream_ || !incoming_) return;
  std::string note;
  try {
    file_stream_->Sync();
    note = incoming_->Store(collision_, senderTime, modified);
  } catch (const EFileStreamError& error) {
    // A file that is not on disk under its name did not arrive, whatever its end said.
    outcome_set_ = false;
    SetFileOutcome(foFailed, error.Message());
    throw;
  }
  if (!note.empty()) LogMsg(dlSimple, note + ".");
  file_name_ = incoming_->StoredPath();
  if (file_name_ != incoming_->Path()) LogMsg(dlSimple, "Stored as " + file_name_ + ".");
  CloseTransferFile();
}

void TvxCustomFileTransfer::DiscardIncomingFile() {
  if (incoming_) incoming_->Remove();
  CloseTransferFile();
}

bool TvxCustomFileTransfer::IncomingInPlace() const {
  return incoming_ && incoming_->InPlace();
}

void TvxCustomFileTransfer::KeepIncomingPartial(bool value) {
  if (incoming_) incoming_->KeepPartial(value);
}

}  // namespace vxcomm
