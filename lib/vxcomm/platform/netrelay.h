// The relay of a network port (serialnet.h): a thread that carries bytes between a connected
// socket and the master end of a pseudo-terminal, through the Telnet codec for rfc2217://.
// When the connection ends it closes the master end and keeps the reason. While the server
// has suspended our output (FLOWCONTROL-SUSPEND) the master end is not read: what is written
// waits in the pseudo-terminal, and in the writer once that is full, until FLOWCONTROL-RESUME.
//
// Thread: the relay thread reads and writes the descriptors; the other members say their guard.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "vxcomm/platform/serialdevice.h"
#include "vxcomm/platform/telnetcodec.h"

namespace vxcomm {

class TvxNetRelay {
 public:
  // Takes Socket and Master; with Telnet the greeting goes out at once.
  TvxNetRelay(int socket, int master, bool telnet);
  ~TvxNetRelay();
  TvxNetRelay(const TvxNetRelay&) = delete;
  TvxNetRelay& operator=(const TvxNetRelay&) = delete;

  // Sends Bytes (already in Telnet form) to the server; false once the connection is gone.
  bool SendRaw(const std::string& bytes);
  // Waits until the server agreed to or refused com port control (or Timeout); true if agreed.
  bool WaitComPort(std::chrono::milliseconds timeout);
  // How many answers came so far, by command; taken before sending commands.
  std::map<std::uint8_t, unsigned> AnswerCounts();
  // Waits until the server answered each command of Commands once more than Before counts
  // (or Timeout, or the connection ended); the new answers by command.
  std::map<std::uint8_t, std::string> WaitAnswers(const std::string& commands,
                                                  const std::map<std::uint8_t, unsigned>& before,
                                                  std::chrono::milliseconds timeout);
  // Called on the relay thread with the server's line and modem notifications; set before
  // the server is asked for any (the masks).
  void SetOnNotice(std::function<void(const TvxComPortNotice&)> onNotice);
  // Why the connection ended; none while it lasts.
  TvxSerialError Failure();
  // Stops the thread and closes both descriptors.
  void Stop();

 private:
  void Run();
  void Lose(const TvxSerialError& reason);

  const int socket_;  // closed by Stop
  int master_;        // relay thread; -1 once closed
  int stop_fd_ = -1;  // eventfd that ends the thread's wait
  const bool telnet_;
  std::mutex send_mutex_;  // one sender at a time on socket_
  std::mutex mutex_;       // guards decoder_ and failure_
  std::condition_variable changed_;
  TvxTelnetDecoder decoder_;
  TvxSerialError failure_;
  std::function<void(const TvxComPortNotice&)> on_notice_;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace vxcomm
