// One transfer session of a command-line program, from opening its line to its exit
// status, whatever the protocol: the serial component with the transfer component attached
// as its data processor, the progress line, the files that fail told as they end, a device
// that goes away told with its reason, the signals that end the program (the session is
// aborted, the peer told, the line put back), and the verdict.
//
// Thread: the program's main thread, which runs the event loop; the serial component hands
// its port events to it, and every member is owned by it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "farendtext.h"
#include "lineoptions.h"
#include "progressline.h"
#include "signalcatch.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxftbase.h"
#include "vxcomm/vxlogfile.h"

class TTransferRun {
 public:
  // Program names the messages ("PROGRAM: ..."); Transfer (which outlives this) is attached
  // to the line; Log is given to both; the progress goes to Progress when Loud.
  TTransferRun(std::string program, TvxCustomFileTransfer& transfer, TvxLogFile& log,
               TProgressLine& progress, bool loud);
  TTransferRun(const TTransferRun&) = delete;
  TTransferRun& operator=(const TTransferRun&) = delete;

  // Device is a device path (/dev/ttyUSB0, tcp://...) or a port name (COM5) and gets Line's
  // settings; false for a port name whose number is bad (a usage error).
  bool SetLine(const std::string& device, const TLineSettings& line);
  // The bytes of the open file the receiver had before the session (a recovered file's
  // start): left out of the progress, which counts what crosses. None by default.
  void SetAlreadyThere(std::function<std::int64_t()> alreadyThere);
  // The files' sizes are not known while they cross (an XMODEM file received): the progress
  // shows no total, and a file's last line the bytes it ended with.
  void SetSizeUnknown() { size_known_ = false; }
  // Keeps the text the far end prints between Kermit packets, shown when the transfer fails.
  void KeepFarEndText();

  // Opens the line; false, said on standard error, when it cannot (exit status 2).
  bool Open();
  // Starts a session with Start, with DiscardInput once what the line held is discarded (a
  // Kermit peer's answers to an earlier session would be taken for answers now; an XMODEM
  // receiver's request to start, which may wait there, must not be); false, said, when it
  // failed before a session began (exit status 1).
  bool Begin(const std::function<void()>& start, bool discardInput);
  // Runs the event loop until the session ends, a signal arrives or (WaitSec above 0) no
  // session has started after WaitSec seconds; closes the line and tells the verdict, Refused
  // names (already told) counted among the files listed. Returns the exit status: 0 success,
  // 1 a failed transfer, 128+N ended by signal N.
  int Finish(int refused, int waitSec);

 private:
  void Fatal(const std::string& message);

  std::string program_;
  std::string device_;
  TvxCustomFileTransfer& transfer_;
  TProgressLine& progress_;
  bool loud_;
  TvxComm comm_;
  std::function<std::int64_t()> already_there_;
  bool size_known_ = true;
  bool keep_far_end_ = false;
  TFarEndText far_end_;
  std::string fatal_;  // the first fatal error met
  std::string lost_;   // the device that went away, and why
  bool session_started_ = false;
  bool session_ended_ = false;
  TvxSessionResult session_;
  int signaled_ = 0;
  std::unique_ptr<TSignalCatcher> signals_;
};
