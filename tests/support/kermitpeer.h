// A standard Kermit program (ckermit or gkermit) run as a black box on one end of a
// serial line, with fixed settings (binary, literal names, overwrite) or with its own
// defaults for files, and a time limit after which it is killed.
#pragma once

#include <QProcess>
#include <memory>
#include <string>
#include <vector>

class KermitPeer {
 public:
  enum Program { CKermit, GKermit };

  // Receives into Dir (the peer's working directory) from Device.
  static std::unique_ptr<KermitPeer> Receive(Program program, const std::string& device,
                                             const std::string& dir, int timeLimitSec,
                                             const std::string& extraSettings = "");
  // Sends Files (paths) over Device.
  static std::unique_ptr<KermitPeer> Send(Program program, const std::string& device,
                                          const std::vector<std::string>& files,
                                          const std::string& dir, int timeLimitSec,
                                          const std::string& extraSettings = "");
  // Receive and Send with the peer's own defaults for files and transfers (text or binary
  // by content, names converted or literal as the other side is, its collision policy);
  // only the line is set, as for the others. ExtraSettings are ckermit commands, or gkermit
  // options separated by spaces ("-T").
  static std::unique_ptr<KermitPeer> ReceiveWithDefaults(Program program, const std::string& device,
                                                         const std::string& dir, int timeLimitSec,
                                                         const std::string& extraSettings = "");
  static std::unique_ptr<KermitPeer> SendWithDefaults(Program program, const std::string& device,
                                                      const std::vector<std::string>& files,
                                                      const std::string& dir, int timeLimitSec,
                                                      const std::string& extraSettings = "");
  // Runs ckermit in Dir on Device with the settings of CKermitCommands, then Action (one or
  // more commands separated by commas); it exits with the status of the last of them.
  static std::unique_ptr<KermitPeer> CKermitRun(const std::string& device, const std::string& dir,
                                                int timeLimitSec, const std::string& extraSettings,
                                                const std::string& action);
  ~KermitPeer();
  KermitPeer(const KermitPeer&) = delete;
  KermitPeer& operator=(const KermitPeer&) = delete;

  static const char* Name(Program program) { return program == CKermit ? "ckermit" : "gkermit"; }
  // The ckermit command that takes a serial line at 115200 with no modem or flow control.
  static std::string CKermitCommands(const std::string& device, const std::string& extra,
                                     const std::string& action);
  // The same line, with ckermit's own file and transfer settings.
  static std::string CKermitLineCommands(const std::string& device, const std::string& extra,
                                         const std::string& action);

  // Runs the event loop until the peer has exited or TimeoutMs passed; true when exited.
  bool Wait(int timeoutMs);
  bool Finished() const { return process_.state() == QProcess::NotRunning; }
  // Kills the peer itself at once (SIGKILL), as a crash would, and waits until it is gone.
  void Kill();
  // Exit status; -1 while running or when the peer was killed by its time limit.
  int ExitCode() const;
  std::string Output();

 private:
  KermitPeer() = default;
  static std::unique_ptr<KermitPeer> StartReceive(Program program, const std::string& device,
                                                  const std::string& dir, int timeLimitSec,
                                                  const std::string& extra, bool defaults);
  static std::unique_ptr<KermitPeer> StartSend(Program program, const std::string& device,
                                               const std::vector<std::string>& files,
                                               const std::string& dir, int timeLimitSec,
                                               const std::string& extra, bool defaults);
  void Start(const QString& program, const QStringList& args, const std::string& dir,
             const std::string& device, bool stdio, int timeLimitSec);

  QProcess process_;
  std::string output_;
  // The peer itself (the child of timeout(1)), once seen: a peer killed by its time limit
  // leaves its lock file behind, and once its number is reused by another process the
  // stale lock would refuse the line to the next peer that gets the same device number.
  std::vector<std::string> peer_pids_;
};
