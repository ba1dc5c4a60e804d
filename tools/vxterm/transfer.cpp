// Transfers from inside the terminal: Kermit with the same engine and settings as vxkermit,
// or XMODEM, YMODEM or ZMODEM; a progress line while they run, then back to the terminal.
#include <QCoreApplication>

#include "sendnames.h"
#include "session.h"
#include "transferverdict.h"
#include "vxcomm/platform/fileopen.h"
#include "vxcomm/unqualified.h"

void TTerminalSession::SetUpTransfers() {
  comm_.SetDataProcessor(&kermit_);
  kermit_.SetActive(false);
  for (TvxCustomFileTransfer* t : {static_cast<TvxCustomFileTransfer*>(&kermit_),
                                   static_cast<TvxCustomFileTransfer*>(&xmodem_),
                                   static_cast<TvxCustomFileTransfer*>(&ymodem_),
                                   static_cast<TvxCustomFileTransfer*>(&zmodem_)})
    SetUpTransfer(*t);
}

void TTerminalSession::SetUpTransfer(TvxCustomFileTransfer& transfer) {
  transfer.SetLog(&log_);
  transfer.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg,
                                 bool& raise) {
    raise = false;
    if (fatal_.empty()) fatal_ = msg;
    if (mode_ == Transfer) QTimer::singleShot(0, this, [this] { FinishTransfer(); });
  };
  TvxCustomFileTransfer* t = &transfer;
  transfer.OnFileStart = [this, t](TObject*) { progress_.Start(t->FileName()); };
  transfer.OnFileEnd = [this, t](TObject*) { progress_.Finish(t->TotalSize(), t->ErrorCount()); };
  // A file that did not cross whole says so under its progress line.
  transfer.OnFileResult = [this](TObject*, const TvxFileResult& file) {
    if (file.outcome == foComplete) return;
    progress_.Break();
    Message(file.name.substr(file.name.rfind('/') + 1) + ": " + FileOutcomeText(file.outcome) +
            (file.reason.empty() ? "" : " (" + file.reason + ")"));
  };
  // However the session ends, its account comes here once.
  transfer.OnSessionEnd = [this](TObject*, const TvxSessionResult& result) {
    result_ = result;
    ended_ = true;
    if (mode_ == Transfer && !finish_queued_) {
      finish_queued_ = true;
      // Not from inside the packet handling.
      QTimer::singleShot(0, this, [this] { FinishTransfer(); });
    }
  };
  // At every error too: a transfer that stalls shows its time-outs and repeats as they come.
  const auto showProgress = [this, t](TObject*) {
    progress_.Update(t->GetFilePosition(), t->TotalSize(), t->ErrorCount(), t->RetryCount());
  };
  transfer.OnProgress = showProgress;
  transfer.OnError = showProgress;
  transfer.OnChangeState = [this, t](TObject*) {
    if (t->State() != fsListen) started_ = true;
  };
}

TvxCustomFileTransfer& TTerminalSession::Choose(TProtocol protocol) {
  switch (protocol) {
    case TProtocol::Kermit:
      ApplyKermitSettings(kermit_, options_.kermit, options_.line.dataBits);
      transfer_ = &kermit_;
      break;
    case TProtocol::XModem:
    case TProtocol::XModem1K:
      xmodem_.SetBlock1K(protocol == TProtocol::XModem1K);
      transfer_ = &xmodem_;
      break;
    case TProtocol::YModem:
      transfer_ = &ymodem_;
      break;
    case TProtocol::ZModem:
      transfer_ = &zmodem_;
      break;
  }
  // What a received file does to one of the same name, whatever the protocol.
  transfer_->SetFileCollision(options_.kermit.collision);
  transfer_->ResetPackets();
  comm_.SetDataProcessor(transfer_);
  transfer_->SetActive(true);
  return *transfer_;
}

void TTerminalSession::StartSend(TProtocol protocol, const std::vector<std::string>& paths) {
  // Bare names are looked for in the working directory, not where the last receive stored.
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
  TvxCustomFileTransfer& transfer = Choose(protocol);
  transfer.SetDefaultPath("");
  Message("sending; Ctrl-C cancels");
  try {
    transfer.SendFiles(masks);
  } catch (const std::exception& e) {
    if (fatal_.empty()) fatal_ = e.what();
  }
  if (!started_ && !fatal_.empty()) FinishTransfer();
}

void TTerminalSession::StartReceive(TProtocol protocol, const std::string& where,
                                    std::string firstBytes) {
  // An XMODEM file is named by the user: its directory must take it.
  const bool named = protocol == TProtocol::XModem;
  const std::size_t slash = where.rfind('/');
  const std::string dir =
      named ? (slash == std::string::npos ? std::string() : where.substr(0, slash + 1)) : where;
  const std::string shown = dir.empty() ? std::string(".") : dir;
  std::string reason;
  if (!vxWritableDirectory(shown, reason)) {
    Message("cannot receive into " + shown + ": " + reason);
    return;
  }
  sending_ = false;
  started_ = finish_queued_ = ended_ = false;
  refused_ = 0;
  cancelled_.clear();
  fatal_.clear();
  far_end_.Clear();
  mode_ = Transfer;
  TvxCustomFileTransfer& transfer = Choose(protocol);
  transfer.SetDefaultPath(dir);
  if (protocol == TProtocol::XModem) {
    xmodem_.SetReceiveName(slash == std::string::npos ? where : where.substr(slash + 1));
    Message("receiving " + where + " by XMODEM; Ctrl-C cancels");
    return xmodem_.ReceiveFile();
  }
  if (protocol == TProtocol::YModem) {
    Message("receiving into " + shown + " by YMODEM; Ctrl-C cancels");
    return ymodem_.ReceiveFiles();
  }
  if (protocol == TProtocol::ZModem) {
    // A sender already heard (its ZRQINIT) is answered by the ZRINIT that opens the session;
    // what came after its header follows.
    Message(firstBytes.empty()
                ? "receiving into " + shown + " by ZMODEM; Ctrl-C cancels"
                : "the far end sends by ZMODEM: receiving into " + shown + ", Ctrl-C cancels");
    zmodem_.ReceiveFiles();
    if (!firstBytes.empty() && mode_ == Transfer)
      zmodem_.DataReceived(firstBytes.data(), static_cast<Cardinal>(firstBytes.size()));
    return;
  }
  constexpr int kRecentMs = 30000;
  if (firstBytes.empty() && recent_clock_.isValid() && recent_clock_.elapsed() < kRecentMs) {
    vxkermit::TSendInitDetector recent;
    firstBytes = recent.Feed(recent_.data(), recent_.size()).packet;
  }
  recent_.clear();
  Message(firstBytes.empty()
              ? "receiving into " + shown + "; waiting for the sender, Ctrl-C cancels"
              : "the far end sends: receiving into " + shown + ", Ctrl-C cancels");
  if (!firstBytes.empty())
    kermit_.DataReceived(firstBytes.data(), static_cast<Cardinal>(firstBytes.size()));
}

void TTerminalSession::CancelTransfer() {
  if (mode_ != Transfer) return;
  if (started_) {
    transfer_->AbortTransfer("cancelled by the user");
  } else {
    cancelled_ = "cancelled by the user";
    FinishTransfer();
  }
}

void TTerminalSession::FinishTransfer() {
  if (mode_ != Transfer) return;
  transfer_->SetActive(false);
  if (transfer_->State() != fsListen) transfer_->Abort();
  // Back to Kermit, which spots a Send-Init in the terminal.
  comm_.SetDataProcessor(&kermit_);
  kermit_.SetActive(false);
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
