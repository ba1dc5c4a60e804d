// Kermit transfers from inside the terminal: the same engine and settings as vxkermit, a
// progress line while they run, then back to the terminal.
#include <QCoreApplication>

#include "platform/fileopen.h"
#include "session.h"

void TTerminalSession::SetUpKermit() {
  comm_.SetDataProcessor(&kermit_);
  kermit_.SetLog(&log_);
  kermit_.SetActive(false);
  kermit_.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    if (fatal_.empty()) fatal_ = msg;
    if (mode_ == Transfer) QTimer::singleShot(0, this, [this] { FinishTransfer(); });
  };
  kermit_.onAbort = [this] {
    if (mode_ == Transfer) QTimer::singleShot(0, this, [this] { FinishTransfer(); });
  };
  kermit_.OnFileStart = [this](TObject*) { progress_.Start(kermit_.FileName()); };
  kermit_.OnFileEnd = [this](TObject*) {
    ++files_;
    progress_.Finish(kermit_.TotalSize(), kermit_.ErrorCount());
  };
  // At every error too: a transfer that stalls shows its time-outs and repeats as they come.
  const auto showProgress = [this](TObject*) {
    progress_.Update(kermit_.GetFilePosition(), kermit_.TotalSize(), kermit_.ErrorCount(),
                     kermit_.RetryCount());
  };
  kermit_.OnProgress = showProgress;
  kermit_.OnError = showProgress;
  kermit_.OnChangeState = [this](TObject*) {
    if (kermit_.State() != fsListen)
      started_ = true;
    else if (started_ && !finish_queued_) {
      finish_queued_ = true;
      // Not from inside the packet handling.
      QTimer::singleShot(0, this, [this] { FinishTransfer(); });
    }
  };
}

void TTerminalSession::StartSend(const std::vector<std::string>& paths) {
  std::string masks;
  for (const std::string& p : paths) masks += (masks.empty() ? "" : ";") + p;
  ApplyKermitSettings(kermit_, options_.kermit, options_.line.dataBits);
  kermit_.SetDefaultPath("");
  sending_ = true;
  started_ = finish_queued_ = false;
  files_ = 0;
  kermit_.failure.clear();
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
  listed_ = kermit_.FileList().Count();
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
  started_ = finish_queued_ = false;
  files_ = listed_ = 0;
  kermit_.failure.clear();
  fatal_.clear();
  far_end_.Clear();
  mode_ = Transfer;
  kermit_.ResetPackets();
  kermit_.SetActive(true);
  constexpr int kRecentMs = 30000;
  if (firstBytes.empty() && recent_clock_.isValid() && recent_clock_.elapsed() < kRecentMs) {
    TSendInitDetector recent;
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
    kermit_.failure = "cancelled by the user";
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
  const bool ok =
      started_ && kermit_.failure.empty() && fatal_.empty() && (!sending_ || files_ == listed_);
  if (ok) {
    Message(std::to_string(files_) + (files_ == 1 ? " file " : " files ") +
            (sending_ ? "sent" : "received"));
  } else {
    const std::string why = !kermit_.failure.empty() ? kermit_.failure
                            : !fatal_.empty()        ? fatal_
                            : sending_ && files_ < listed_
                                ? std::to_string(listed_ - files_) + " of " +
                                      std::to_string(listed_) + " files not sent"
                                : "the session did not end";
    Message("transfer failed: " + why);
    if (!far_end_.LastLines().empty())
      Message("the far end's last output: " + far_end_.LastLines());
  }
  fatal_.clear();
  kermit_.failure.clear();
}
