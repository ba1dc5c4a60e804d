#include "support/kermitpeer.h"

#include <signal.h>
#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

std::string KermitPeer::CKermitLineCommands(const std::string& device, const std::string& extra,
                                            const std::string& action) {
  return "set modem type none, set carrier-watch off, set line " + device +
         ", set speed 115200, set flow-control none, set parity none, "
         "set transfer display none, set exit warning off, set exit hangup off, " +
         (extra.empty() ? "" : extra + ", ") + action + ", exit \\v(status)";
}

std::string KermitPeer::CKermitCommands(const std::string& device, const std::string& extra,
                                        const std::string& action) {
  const std::string fixed =
      "set file type binary, set transfer mode manual, set file names literal, "
      "set file collision overwrite";
  return CKermitLineCommands(device, extra.empty() ? fixed : fixed + ", " + extra, action);
}

std::unique_ptr<KermitPeer> KermitPeer::Receive(Program program, const std::string& device,
                                                const std::string& dir, int timeLimitSec,
                                                const std::string& extraSettings) {
  return StartReceive(program, device, dir, timeLimitSec, extraSettings, false);
}

std::unique_ptr<KermitPeer> KermitPeer::ReceiveWithDefaults(Program program,
                                                            const std::string& device,
                                                            const std::string& dir,
                                                            int timeLimitSec,
                                                            const std::string& extraSettings) {
  return StartReceive(program, device, dir, timeLimitSec, extraSettings, true);
}

std::unique_ptr<KermitPeer> KermitPeer::Send(Program program, const std::string& device,
                                             const std::vector<std::string>& files,
                                             const std::string& dir, int timeLimitSec,
                                             const std::string& extraSettings) {
  return StartSend(program, device, files, dir, timeLimitSec, extraSettings, false);
}

std::unique_ptr<KermitPeer> KermitPeer::SendWithDefaults(Program program, const std::string& device,
                                                         const std::vector<std::string>& files,
                                                         const std::string& dir, int timeLimitSec,
                                                         const std::string& extraSettings) {
  return StartSend(program, device, files, dir, timeLimitSec, extraSettings, true);
}

namespace {

// gkermit's options in Extra, separated by spaces ("-T -S").
QStringList GKermitOptions(const std::string& extra) {
  return QString::fromStdString(extra).split(' ', Qt::SkipEmptyParts);
}

}  // namespace

std::unique_ptr<KermitPeer> KermitPeer::StartReceive(Program program, const std::string& device,
                                                     const std::string& dir, int timeLimitSec,
                                                     const std::string& extra, bool defaults) {
  std::unique_ptr<KermitPeer> peer(new KermitPeer);
  if (program == CKermit) {
    const std::string commands = defaults ? CKermitLineCommands(device, extra, "receive")
                                          : CKermitCommands(device, extra, "receive");
    peer->Start("kermit", {"-Y", "-H", "-q", "-C", QString::fromStdString(commands)}, dir, device,
                false, timeLimitSec);
  } else {
    QStringList args = defaults ? QStringList{"-q"} : QStringList{"-q", "-P", "-w"};
    if (defaults) args << GKermitOptions(extra);
    args << "-r";
    peer->Start("gkermit", args, dir, device, true, timeLimitSec);
  }
  return peer;
}

std::unique_ptr<KermitPeer> KermitPeer::StartSend(Program program, const std::string& device,
                                                  const std::vector<std::string>& files,
                                                  const std::string& dir, int timeLimitSec,
                                                  const std::string& extra, bool defaults) {
  std::unique_ptr<KermitPeer> peer(new KermitPeer);
  if (program == CKermit) {
    std::string action = files.size() == 1 ? "send " + files[0] : "msend";
    if (files.size() > 1)
      for (const auto& f : files) action += " " + f;
    const std::string commands = defaults ? CKermitLineCommands(device, extra, action)
                                          : CKermitCommands(device, extra, action);
    peer->Start("kermit", {"-Y", "-H", "-q", "-C", QString::fromStdString(commands)}, dir, device,
                false, timeLimitSec);
  } else {
    QStringList args = defaults ? QStringList{"-q"} : QStringList{"-q", "-P", "-i"};
    if (defaults) args << GKermitOptions(extra);
    args << "-s";
    for (const auto& f : files) args << QString::fromStdString(f);
    peer->Start("gkermit", args, dir, device, true, timeLimitSec);
  }
  return peer;
}

std::unique_ptr<KermitPeer> KermitPeer::CKermitRun(const std::string& device,
                                                   const std::string& dir, int timeLimitSec,
                                                   const std::string& extraSettings,
                                                   const std::string& action) {
  std::unique_ptr<KermitPeer> peer(new KermitPeer);
  peer->Start("kermit",
              {"-Y", "-H", "-q", "-C",
               QString::fromStdString(CKermitCommands(device, extraSettings, action))},
              dir, device, false, timeLimitSec);
  return peer;
}

namespace {

// The processes that Pid started and that still run.
std::vector<std::string> ChildrenOf(qint64 pid) {
  std::ifstream list("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<std::string> children;
  for (std::string child; list >> child;) children.push_back(child);
  return children;
}

// Removes the lock files (UUCP style, "LCK..NAME" holding a PID) that name one of Pids.
void RemoveLocksOf(const std::vector<std::string>& pids) {
  for (const char* dir : {"/run/lock", "/var/lock"}) {
    const QDir locks(dir);
    for (const QString& name : locks.entryList({"LCK..*"}, QDir::Files)) {
      const std::string path = std::string(dir) + "/" + name.toStdString();
      std::ifstream in(path);
      std::string pid;
      in >> pid;
      if (std::find(pids.begin(), pids.end(), pid) != pids.end()) std::remove(path.c_str());
    }
  }
}

}  // namespace

void KermitPeer::Start(const QString& program, const QStringList& args, const std::string& dir,
                       const std::string& device, bool stdio, int timeLimitSec) {
  // The time limit is the coreutils one, so a peer that waits forever is ended even when
  // the test itself is stuck. A TERM that timeout hands on is followed by a KILL a second
  // later: a peer stuck draining its output into a line nobody reads would outlive us.
  QStringList all = {"-k", "1", "-s", "KILL", QString::number(timeLimitSec), program};
  all << args;
  process_.setProgram("timeout");
  process_.setArguments(all);
  process_.setWorkingDirectory(QString::fromStdString(dir));
  if (stdio) {
    process_.setStandardInputFile(QString::fromStdString(device));
    process_.setStandardOutputFile(QString::fromStdString(device));
  } else {
    process_.setStandardInputFile(QProcess::nullDevice());
  }
  process_.start();
  if (!process_.waitForStarted(5000))
    throw std::runtime_error("cannot start " + program.toStdString());
  QElapsedTimer clock;
  clock.start();
  while (peer_pids_.empty() && process_.state() == QProcess::Running && clock.elapsed() < 2000) {
    peer_pids_ = ChildrenOf(process_.processId());
    if (peer_pids_.empty()) QThread::msleep(1);
  }
}

KermitPeer::~KermitPeer() {
  if (process_.state() != QProcess::NotRunning) {
    const std::vector<std::string> peers = ChildrenOf(process_.processId());
    // The process is timeout(1): it hands a TERM on to the peer, which a KILL of its own
    // would leave running, holding the line and its lock file.
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
      process_.kill();
      process_.waitForFinished(2000);
    }
    // The line is free for the next peer only once this one is gone, not just its
    // timeout: a lock file that names a process still there refuses the line.
    QElapsedTimer clock;
    clock.start();
    for (const std::string& peer : peers)
      while (::access(("/proc/" + peer).c_str(), F_OK) == 0 && clock.elapsed() < 5000)
        QThread::msleep(5);
  }
  // The peer is gone: a lock file still naming it is stale (it was killed before it could
  // remove it).
  RemoveLocksOf(peer_pids_);
}

void KermitPeer::Kill() {
  for (const std::string& pid : peer_pids_) ::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
  // timeout(1) ends once its child is gone.
  process_.waitForFinished(5000);
  RemoveLocksOf(peer_pids_);
}

bool KermitPeer::Wait(int timeoutMs) {
  if (Finished()) return true;
  // A real event loop: our side's port events are handed to this thread while we wait.
  QEventLoop loop;
  QObject::connect(&process_, &QProcess::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  return Finished();
}

int KermitPeer::ExitCode() const {
  if (!Finished() || process_.exitStatus() != QProcess::NormalExit) return -1;
  const int code = process_.exitCode();
  return code == 137 || code == 124 ? -1 : code;  // killed by its time limit
}

std::string KermitPeer::Output() {
  output_ += process_.readAll().toStdString();
  return output_;
}
