#include <QMetaObject>
#include <climits>
#include <exception>
#include <utility>

#include "vxcomm/vxftbase.h"
#include "vxcomm/vxftbase/incomingfile.h"

namespace vxcomm {

TvxCustomFileTransfer::TvxCustomFileTransfer(QObject* owner) : TvxDataProtocol(owner) {}

TvxCustomFileTransfer::~TvxCustomFileTransfer() {
  Destroying();
  CloseTransferFile();
}

void TvxCustomFileTransfer::SetDefaultPath(const std::string& value) {
  default_path_ = value;
  if (!default_path_.empty() && default_path_.back() != '/') default_path_ += '/';
}

void TvxCustomFileTransfer::SetProgressBar(QObject* value) {
  progress_bar_ = value;
  if (value) PostRange();
}

std::int64_t TvxCustomFileTransfer::GetFilePosition() const {
  return file_stream_ ? file_stream_->Position() : 0;
}

void TvxCustomFileTransfer::RaiseFatalError(Cardinal errorCode, Cardinal detail,
                                            const std::string& errorMsg) {
  if (state_ != fsListen) {
    ending_in_failure_ = true;
    AbortTransfer(errorMsg);
    ending_in_failure_ = false;
  }
  TvxDataProtocol::RaiseFatalError(errorCode, detail, errorMsg);
}

void TvxCustomFileTransfer::CloseTransferFile() {
  if (file_stream_) {
    file_result_.name = file_name_;
    file_result_.bytes = BytesCrossed();
    file_stream_.reset();
    // Closed without a word on how it ended: refused (by the collision policy or the
    // receiving directory), or its session ended under it.
    if (!outcome_set_ && !file_refusal_.empty()) {
      file_result_.outcome = foDiscarded;
      file_result_.reason = file_refusal_;
    } else if (!outcome_set_) {
      file_result_.outcome = ending_in_failure_ ? foFailed : foAborted;
      file_result_.reason = session_result_.failure;
    }
    outcome_set_ = false;
    held_ = std::exchange(hold_result_, false);
    // What was received of a file that was not stored goes with it.
    incoming_.reset();
    FireEvent(OnFileEnd, "OnFileEnd");
    if (!held_) TellFileResult();
  }
  file_name_.clear();
}

void TvxCustomFileTransfer::AbortTransfer(const std::string& reason) {
  // The reason the files still open or held end with.
  if (session_open_ && session_result_.failure.empty())
    session_result_.failure = reason.empty() ? "aborted" : reason;
  state_ = fsListen;
  LogMsg(dlSimple, "Transfer aborted. " + reason);
}

void TvxCustomFileTransfer::OpenTransferFile(const std::string& name, std::uint16_t mode) {
  CloseTransferFile();
  if (held_) SettleFileResult();
  std::string fullName = name.find('/') != std::string::npos ? name : default_path_ + name;
  file_stream_ = std::make_unique<TvxFileStream>(fullName, mode);
  file_name_ = fullName;
  file_result_ = TvxFileResult{fullName, foAborted, 0, {}};
  FireEvent(OnFileStart, "OnFileStart");
}

void TvxCustomFileTransfer::SetTransferFileDate(const QDateTime& dateTime) {
  if (file_stream_) file_stream_->SetFileDate(dateTime);
}

void TvxCustomFileTransfer::DoProgress() {
  PostProgress("setValue", static_cast<int>(GetFilePosition() >> ProgressShift()));
  FireEvent(OnProgress, "OnProgress");
}

bool TvxCustomFileTransfer::CountError(bool asRetry) {
  ++error_count_;
  if (error_count_ > error_limit_) {
    RaiseFatalError(17, 7, "Too many errors.");
    return false;
  }
  if (asRetry && !CountRetry()) return false;
  FireEvent(OnError, "OnError");
  return true;
}

bool TvxCustomFileTransfer::CountRetry() {
  ++retry_count_;
  const int limit = SessionRetryLimit();
  if (limit <= 0 || retry_count_ <= limit) return true;
  RaiseFatalError(17, 8, "Too many retries.");
  return false;
}

void TvxCustomFileTransfer::SetState(TvxTransferState value) {
  if (value == state_) return;
  state_ = value;
  FireEvent(OnChangeState, "OnChangeState");
}

void TvxCustomFileTransfer::SetTotalSize(std::int64_t size) {
  total_size_ = size;
  PostRange();
}

void TvxCustomFileTransfer::Abort() {
  AbortTransfer("");
}

void TvxCustomFileTransfer::SendFiles(const std::string& mask) {
  BuildFileList(mask);
  if (file_list_.Empty())
    RaiseFatalError(17, 6, "There are no files for transmission.");
  else
    LogMsg(dlSimple, mask);
}

void TvxCustomFileTransfer::SkipFile(bool skipAll, bool deleteFile) {
  if (state_ == fsListen) return;
  LogFmt(dlSimple, "File transfer is skipped. File Group: %s. Deletion: %s",
         {std::string(skipAll ? "1" : "0"), std::string(deleteFile ? "1" : "0")});
}

int TvxCustomFileTransfer::ProgressShift() const {
  int shift = 0;
  while ((total_size_ >> shift) > INT_MAX) ++shift;
  return shift;
}

void TvxCustomFileTransfer::PostProgress(const char* slot, int value) const {
  if (QObject* bar = progress_bar_.data())
    QMetaObject::invokeMethod(bar, slot, Qt::QueuedConnection, Q_ARG(int, value));
}

void TvxCustomFileTransfer::PostRange() const {
  QObject* bar = progress_bar_.data();
  if (!bar) return;
  int high = total_size_ > 0 ? static_cast<int>(total_size_ >> ProgressShift()) : 0;
  QMetaObject::invokeMethod(bar, "setRange", Qt::QueuedConnection, Q_ARG(int, 0), Q_ARG(int, high));
}

void TvxCustomFileTransfer::FireEvent(const TNotifyEvent& handler, const char* name) {
  if (!handler) return;
  // A copy: the handler may assign the event it runs from.
  const TNotifyEvent call = handler;
  std::string what;
  try {
    call(this);
    return;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "an exception of unknown type";
  }
  if (handler_failed_) return;
  handler_failed_ = true;
  handler_failure_ = std::string("EXCEPTION in ") + name + " handler. " + what;
}

void TvxCustomFileTransfer::ReportHandlerFailure() {
  if (!handler_failed_) return;
  handler_failed_ = false;
  RaiseFatalError(15, 1, std::exchange(handler_failure_, {}));
}

void TvxCustomFileTransfer::ForgetHandlerFailure() {
  if (!handler_failed_) return;
  handler_failed_ = false;
  LogMsg(dlDetail, "Left unreported: " + std::exchange(handler_failure_, {}));
}

void TvxCustomFileTransfer::BeginSessionResult(bool sending, int listed) {
  if (session_open_ && session_result_.FileCount() > 0 && !held_)
    EndSessionResult(false, "a new session started");
  session_result_ = TvxSessionResult{};
  session_result_.sending = sending;
  session_result_.listed = listed;
  session_open_ = true;
  outcome_set_ = hold_result_ = held_ = false;
}

void TvxCustomFileTransfer::SetFileOutcome(TvxFileOutcome outcome, const std::string& reason) {
  if (outcome_set_ || !file_stream_) return;
  outcome_set_ = true;
  file_result_.outcome = outcome;
  file_result_.reason = outcome == foComplete ? std::string() : reason;
}

void TvxCustomFileTransfer::SettleFileResult() {
  if (!held_) return;
  held_ = false;
  TellFileResult();
}

void TvxCustomFileTransfer::PassOverFile(const std::string& name, const std::string& reason) {
  if (held_) SettleFileResult();
  file_result_ = TvxFileResult{name, foSkippedByUs, 0, reason};
  if (session_open_) session_result_.unreadable.push_back(name);
  TellFileResult();
}

void TvxCustomFileTransfer::EndSessionResult(bool ended, const std::string& failure) {
  if (!session_open_) return;
  if (!ended && session_result_.failure.empty())
    session_result_.failure = failure.empty() ? "aborted" : failure;
  // A file whose end the peer never acknowledged did not arrive as far as this side knows.
  if (held_ && !ended && file_result_.outcome == foComplete) {
    file_result_.outcome = ending_in_failure_ ? foFailed : foAborted;
    file_result_.reason = session_result_.failure;
  }
  SettleFileResult();
  session_result_.ended = ended;
  session_open_ = false;
  const TvxSessionResultEvent call = OnSessionEnd;
  const TvxSessionResult result = session_result_;
  if (call) FireEvent([&](TObject* sender) { call(sender, result); }, "OnSessionEnd");
}

void TvxCustomFileTransfer::TellFileResult() {
  if (session_open_) {
    ++session_result_.files[file_result_.outcome];
    session_result_.bytes[file_result_.outcome] += file_result_.bytes;
  }
  const TvxFileResultEvent call = OnFileResult;
  const TvxFileResult result = file_result_;
  if (call) FireEvent([&](TObject* sender) { call(sender, result); }, "OnFileResult");
}

}  // namespace vxcomm
