// A pseudo-terminal in front of a serial component's port: what a program writes on the
// slave goes out on the port, what the port receives comes out on the slave, and the line
// settings the program makes there (speed, stop bits, flow control) are applied to the port
// before any byte it writes after them, so that a program that knows nothing of the port's
// kind (a network port, say) runs it as a local serial line.
//
// A pty has no modem lines and no break, and keeps no data bits or parity: those stay as the
// port has them.
//
// Thread: the main thread owns everything here; the port delivers its events there.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "ptyline.h"

class QSocketNotifier;

namespace vxbridge {

class TPtyBridge : public QObject {
 public:
  // The most received bytes held for a program that does not read; more are dropped, and
  // Say tells how many.
  static constexpr std::size_t kHeldLimit = 4 << 20;

  // Makes a new pty, raw at the line Port runs, in front of the open Port; Say gets the
  // bridge's reports (a line taken over, bytes dropped). Throws std::runtime_error with the
  // system's reason when no pty can be made.
  TPtyBridge(vxcomm::TvxComm& port, std::function<void(const std::string&)> say);
  ~TPtyBridge() override;
  TPtyBridge(const TPtyBridge&) = delete;
  TPtyBridge& operator=(const TPtyBridge&) = delete;

  // The slave's path, for the program to open.
  const std::string& SlavePath() const { return slave_path_; }

 private:
  void FromProgram();
  void ToProgram();
  void Received(const void* data, vxcomm::Cardinal len);
  // Applies the program's line settings to the port when they changed since the last look.
  void FollowLine();

  vxcomm::TvxComm& port_;
  std::function<void(const std::string&)> say_;
  int master_ = -1;
  // Held open, never read: with no program on the slave the master then reads nothing,
  // where it would read a hang-up.
  int slave_ = -1;
  std::string slave_path_;
  TPtyLine line_;     // the line last applied to the port
  std::string held_;  // received bytes the program has not taken yet
  std::unique_ptr<QSocketNotifier> readable_, writable_;
  // A program may set its line and then only wait for input: the line is looked at on a
  // timer too, not only before the bytes the program writes.
  QTimer line_watch_;
};

}  // namespace vxbridge
