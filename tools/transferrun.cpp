#include "transferrun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <iostream>

#include "devicelost.h"
#include "peerquiet.h"
#include "transferverdict.h"

namespace {

// Out of the event loop at once, but not from inside the packet handling.
void QuitSoon() {
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                            Qt::QueuedConnection);
}

}  // namespace

TTransferRun::TTransferRun(std::string program, TvxCustomFileTransfer& transfer, TvxLogFile& log,
                           TProgressLine& progress, bool loud)
    : program_(std::move(program)), transfer_(transfer), progress_(progress), loud_(loud) {
  comm_.SetDrainOnClose(true);      // the last packet leaves before the close
  comm_.SetReportDeviceLoss(true);  // a device that goes away is told with its reason
  comm_.SetLog(&log);
  comm_.SetDataProcessor(&transfer_);
  transfer_.SetLog(&log);
  transfer_.SetActive(true);

  // A device that went away (its report comes before the close, which ends a session):
  // the user hears which device and why, ahead of whatever the session says.
  comm_.OnFatalError = [this](TObject*, Cardinal, Cardinal detail, const std::string& msg,
                              bool& raise) {
    raise = false;
    if (comm_.DeviceLost() && lost_.empty()) lost_ = DeviceLostText(device_, detail);
    Fatal(lost_.empty() ? msg : lost_);
  };
  transfer_.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg,
                                  bool& raise) {
    raise = false;
    Fatal(msg);
  };

  transfer_.OnFileStart = [this](TObject*) {
    if (loud_) progress_.Start(transfer_.FileName());
  };
  transfer_.OnFileEnd = [this](TObject*) {
    if (!loud_) return;
    if (size_known_)
      return progress_.Finish(transfer_.TotalSize() - already_there_(), transfer_.ErrorCount());
    // The last block is written only as the file ends: the file's account has it.
    progress_.Update(transfer_.FileResult().bytes, -1, transfer_.ErrorCount());
    progress_.Finish(-1, transfer_.ErrorCount());
  };
  transfer_.OnFileResult = [this](TObject*, const TvxFileResult& file) {
    if (file.outcome == foComplete || !loud_) return;
    progress_.Break();
    std::cerr << program_ << ": " << file.name << ": " << FileOutcomeText(file.outcome)
              << (file.reason.empty() ? "" : " (" + file.reason + ")") << "\n";
  };
  // At every error too: a transfer that stalls shows its time-outs and repeats as they come.
  const auto showProgress = [this](TObject*) {
    if (!loud_) return;
    const std::int64_t there = already_there_();
    progress_.Update(transfer_.GetFilePosition() - there,
                     size_known_ ? transfer_.TotalSize() - there : -1, transfer_.ErrorCount(),
                     transfer_.RetryCount());
  };
  transfer_.OnProgress = showProgress;
  transfer_.OnError = showProgress;
  transfer_.OnChangeState = [this](TObject*) {
    if (transfer_.State() != fsListen) session_started_ = true;
  };
  // However the session ends, its account comes here once.
  transfer_.OnSessionEnd = [this](TObject*, const TvxSessionResult& result) {
    session_ = result;
    session_ended_ = true;
    QuitSoon();
  };
  SetAlreadyThere(nullptr);

  // A signal that ends the program ends the session in order: the peer is told (ahead of
  // the data still queued, which is dropped), and the close puts the line back and removes
  // the lock file.
  signals_ = std::make_unique<TSignalCatcher>(
      std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP}, [this](int sig) {
        if (signaled_) return;
        signaled_ = sig;
        if (transfer_.State() != fsListen) {
          comm_.PurgeOut();
          transfer_.AbortTransfer("ended by signal " + std::to_string(sig) + " (" + strsignal(sig) +
                                  ")");
        }
        QCoreApplication::quit();
      });
}

bool TTransferRun::SetLine(const std::string& device, const TLineSettings& line) {
  device_ = device;
  if (device.size() > 3 && device.compare(0, 3, "COM") == 0) {
    int n = 0;
    if (!ParseNumber(QString::fromStdString(device.substr(3)), 1, 65535, n)) return false;
    comm_.SetComPortNo(static_cast<std::uint16_t>(n));
  } else {
    comm_.SetDeviceName(device);
  }
  ApplyLineSettings(comm_, line);
  return true;
}

void TTransferRun::SetAlreadyThere(std::function<std::int64_t()> alreadyThere) {
  already_there_ = alreadyThere ? std::move(alreadyThere) : [] { return std::int64_t{0}; };
}

void TTransferRun::KeepFarEndText() {
  keep_far_end_ = true;
  comm_.OnAfterReceive = [this](TObject*, const void* data, Cardinal len) {
    far_end_.Feed(static_cast<const char*>(data), len);
  };
}

void TTransferRun::Fatal(const std::string& message) {
  if (fatal_.empty()) fatal_ = message;
  // Outside a session nothing else ends the wait (a line that fails while listening).
  if (!transfer_.SessionOpen()) QuitSoon();
}

bool TTransferRun::Open() {
  comm_.SetActive(true);
  if (comm_.Active()) return true;
  std::cerr << program_ << ": cannot open " << device_ << (fatal_.empty() ? "" : ": " + fatal_)
            << "\n";
  return false;
}

bool TTransferRun::Begin(const std::function<void()>& start, bool discardInput) {
  if (discardInput) comm_.PurgeIn();
  try {
    start();
  } catch (const std::exception& e) {
    if (fatal_.empty()) fatal_ = e.what();
  }
  if (fatal_.empty() || session_started_) return true;
  std::cerr << program_ << ": " << fatal_ << "\n";
  return false;
}

int TTransferRun::Finish(int refused, int waitSec) {
  // A receiver that waits for a session gives up after WaitSec (armed an hour at a time: a
  // timer's interval is an int of milliseconds).
  QTimer gaveUp;
  gaveUp.setSingleShot(true);
  QElapsedTimer waited;
  waited.start();
  const qint64 waitMs = waitSec * 1000LL;
  const auto arm = [&] {
    gaveUp.start(static_cast<int>(std::min<qint64>(waitMs - waited.elapsed(), 3600000)));
  };
  QObject::connect(&gaveUp, &QTimer::timeout, [&] {
    if (session_started_) return;
    if (waited.elapsed() >= waitMs)
      QCoreApplication::quit();
    else
      arm();
  });
  if (waitSec > 0) arm();

  QCoreApplication::exec();
  // After a signal or a session that ended early the peer may still be sending: what it
  // sent is read (and answered with the abort again) until it stops. The close lets the
  // last answer leave (DrainOnClose).
  if (signaled_ || (session_ended_ && !session_.ended)) WaitUntilPeerQuiet(comm_, 300, 5000);
  comm_.SetActive(false);
  progress_.Break();
  if (signaled_) {
    std::cerr << program_ << ": " << (session_started_ ? "transfer failed: " : "")
              << (session_.failure.empty() ? "ended by signal " + std::to_string(signaled_)
                                           : session_.failure)
              << "\n";
    return 128 + signaled_;
  }

  const TTransferVerdict verdict = JudgeTransfer(session_, refused);
  const bool ok = session_ended_ && verdict.ok && fatal_.empty() && lost_.empty();
  // Success is news only for a user who asked for output; a failure is an error.
  if (ok) {
    if (loud_) std::cerr << program_ << ": " << verdict.text << "\n";
  } else if (!session_started_) {
    std::cerr << program_ << ": " << (fatal_.empty() ? "no session started" : fatal_) << "\n";
  } else {
    std::cerr << program_ << ": transfer failed: "
              << (!lost_.empty()                  ? lost_
                  : !verdict.ok || fatal_.empty() ? verdict.text
                                                  : fatal_)
              << "\n";
    std::cerr << program_ << ": " << verdict.counts << "\n";
  }
  if (!ok && keep_far_end_ && !far_end_.LastLines().empty())
    std::cerr << program_ << ": the far end's last output: " << far_end_.LastLines() << "\n";
  return ok ? 0 : 1;
}
