// Kermit transfers from inside the terminal: the same engine and settings as vxkermit, a
// progress line while they run, then back to the terminal.
#include <QCoreApplication>

#include "sendnames.h"
#include "session.h"
#include "transferverdict.h"
#include "vxcomm/platform/fileopen.h"
#include "vxcomm/unqualified.h"

void TTerminalSession::SetUpKermit() {
  comm_.SetDataProcessor(&kermit_);
  kermit_.SetLog(&log_);
  kermit_.SetActive(false);
  kermit_.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    if (fatal_.empty()) fatal_ = msg;
    if (mode_ == Transfer) QTimer::singleShot(0, this, [this] { FinishTransfer(); });
  };
  kermit_.OnFileStart = [this](TObject*) { progress_.Start(kermit_.FileName()); };
  kermit_.OnFileEnd = [this](TObject*) {
    progress_.Finish(kermit_.TotalSize(), kermit_.ErrorCount());
  };
  // A file that did not cross whole says so under its progress line.
  kermit_.OnFileResult = [this](TObject*, const TvxFileResult& file) {
    if (file.outcome == foComplete) return;
    progress_.Break();
    Message(file.name.substr(file.name.rfind('/') + 1) + ": " + FileOutcomeText(file.outcome) +
            (file.reason.empty() ? "" : " (" + file.reason + ")"));
  };
  // However the session ends, its account comes here once.
  kermit_.OnSessionEnd = [this](TObject*, const TvxSessionResult& result) {
    result_ = result;
    ended_ = true;
    if (mode_ == Transfer && !finish_queued_) {
      finish_queued_ = true;
      // Not from inside the packet handling.
      QTimer::singleShot(0, this, [this] { FinishTransfer(); });
    }
  };
  // At every error too: a transfer that stalls shows its time-outs and repeats as they come.
  const auto showProgress = [this](TObject*) {
    progress_.Update(kermit_.GetFilePosition(), kermit_.TotalSize(), kermit_.ErrorCount(),
                     kermit_.RetryCount());
  };
  kermit_.OnProgress = showProgress;
  kermit_.OnError = showProgress;
  kermit_.OnChangeState = [this](TObject*) {
    if (kermit_.State() != fsListen) started_ = true;
  };
}

void TTerminalSession::StartSend(const std::vector<std::string>& paths) {
  ApplyKermitSettings(kermit_, options_.kermit, options_.line.dataBits);
  kermit_.SetDefaultPath("");
  std::string masks;
  refused_ = 0;
  for (const std::string& p : paths) {
    if (const std::string why = UnsendableMask(kermit_, p); !why.empty()) {
      ++refused_;
      Message("cannot send " + QuotedName(p) + ": " + why);
      continue;
    }
    masks += (masks.empty() ? "" : ";") + p;
  }
  sending_ = true;
  started_ = finish_queued_ = ended_ = false;
  cancelled_.clear();
  fatal_.clear();
  far_end_.Clear();
  mode_ = Transfer;
  kermit_.ResetPackets();
  kermit_.SetActive(true);
  Message("sending; Ctrl-C cancels");
  try {
    kermit_.SendFiles(masks);
  } catch (const std::exception& e) {
    if (fatal_.empty()) fatal_ = e.what();
  }
  if (!started_ && !fatal_.empty()) FinishTransfer();
}

void TTerminalSession::StartReceive(const std::string& dir, std::string firstBytes) {
  const std::string where = dir.empty() ? std::string(".") : dir;
  std::string reason;
  if (!vxWritableDirectory(where, reason)) {
    Message("cannot receive into " + where + ": " + reason);
    return;
  }
  ApplyKermitSettings(kermit_, options_.kermit, options_.line.dataBits);
  kermit_.SetDefaultPath(dir);
  sending_ = false;
  started_ = finish_queued_ = ended_ = false;
  refused_ = 0;
  cancelled_.clear();
  fatal_.clear();
  far_end_.Clear();
  mode_ = Transfer;
  kermit_.ResetPackets();
  kermit_.SetActive(true);
  constexpr int kRecentMs = 30000;
  if (firstBytes.empty() && recent_clock_.isValid() && recent_clock_.elapsed() < kRecentMs) {
    vxkermit::TSendInitDetector recent;
    firstBytes = recent.Feed(recent_.data(), recent_.size()).packet;
  }
  recent_.clear();
  Message(firstBytes.empty()
              ? "receiving into " + where + "; waiting for the sender, Ctrl-C cancels"
              : "the far end sends: receiving into " + where + ", Ctrl-C cancels");
  if (!firstBytes.empty())
    kermit_.DataReceived(firstBytes.data(), static_cast<Cardinal>(firstBytes.size()));
}

void TTerminalSession::CancelTransfer() {
  if (mode_ != Transfer) return;
  if (started_) {
    kermit_.AbortTransfer("cancelled by the user");
  } else {
    cancelled_ = "cancelled by the user";
    FinishTransfer();
  }
}

void TTerminalSession::FinishTransfer() {
  if (mode_ != Transfer) return;
  kermit_.SetActive(false);
  if (kermit_.State() != fsListen) kermit_.Abort();
  progress_.Break();
  std::fflush(stdout);
  std::fflush(stderr);
  // Back to the start of the console's line; a pipe's output holds the line's bytes alone.
  if (!piped_) TConsole::Write("\r");
  at_line_start_ = true;
  partial_line_.clear();
  mode_ = Terminal;
  after_transfer_.start();
  in_late_packet_ = false;
  const TTransferVerdict verdict = JudgeTransfer(result_, refused_);
  if (started_ && ended_ && verdict.ok && fatal_.empty()) {
    Message(verdict.text);
  } else {
    const std::string why = !cancelled_.empty()                  ? cancelled_
                            : ended_ && !result_.failure.empty() ? result_.failure
                            : !fatal_.empty()                    ? fatal_
                            : ended_                             ? verdict.text
                                                                 : "the session did not end";
    Message("transfer failed: " + why);
    if (ended_) Message(verdict.counts);
    if (!far_end_.LastLines().empty())
      Message("the far end's last output: " + far_end_.LastLines());
  }
  fatal_.clear();
  cancelled_.clear();
}
