#include "ptybridge.h"

#include "lineoptions.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vxbridge {

using namespace vxcomm;

namespace {

constexpr int kLineWatchMs = 100;

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// The line as the options name its settings (--speed, --stop-bits, --flow).
std::string LineText(const TPtyLine& line) {
  return std::to_string(line.baud) + " baud, " + StopBitsNames().value(line.stop).toStdString() +
         " stop bits, flow " + FlowNames().value(line.flow).toStdString();
}

}  // namespace

TPtyBridge::TPtyBridge(TvxComm& port, std::function<void(const std::string&)> say)
    : port_(port), say_(std::move(say)) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) throw SystemError("cannot make a pseudo-terminal");
  char name[256];
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0) {
    const std::runtime_error error = SystemError("cannot make a pseudo-terminal");
    ::close(master_);
    throw error;
  }
  slave_path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  line_ = {port.BaudRate(), port.StopBits(), port.StreamProtocol()};
  if (slave_ < 0 || WritePtyLine(master_, line_) != 0) {
    const std::runtime_error error = SystemError("cannot set up " + slave_path_);
    if (slave_ >= 0) ::close(slave_);
    ::close(master_);
    throw error;
  }
  port_.OnAfterReceive = [this](TObject*, const void* data, Cardinal len) { Received(data, len); };
  readable_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
  connect(readable_.get(), &QSocketNotifier::activated, this, [this] { FromProgram(); });
  writable_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Write);
  writable_->setEnabled(false);
  connect(writable_.get(), &QSocketNotifier::activated, this, [this] { ToProgram(); });
  connect(&line_watch_, &QTimer::timeout, this, [this] { FollowLine(); });
  line_watch_.start(kLineWatchMs);
}

TPtyBridge::~TPtyBridge() {
  port_.OnAfterReceive = nullptr;
  readable_.reset();
  writable_.reset();
  ::close(slave_);
  ::close(master_);
}

void TPtyBridge::FromProgram() {
  // The settings the program made before these bytes apply to them.
  FollowLine();
  char buffer[4096];
  const ssize_t n = ::read(master_, buffer, sizeof buffer);
  if (n > 0) port_.SendData(buffer, static_cast<Cardinal>(n));
}

void TPtyBridge::Received(const void* data, Cardinal len) {
  const std::size_t room = kHeldLimit > held_.size() ? kHeldLimit - held_.size() : 0;
  const std::size_t kept = std::min<std::size_t>(len, room);
  held_.append(static_cast<const char*>(data), kept);
  if (kept < len)
    say_(std::to_string(len - kept) + " received bytes dropped: the program on " + slave_path_ +
         " does not read");
  ToProgram();
}

void TPtyBridge::ToProgram() {
  while (!held_.empty()) {
    const ssize_t n = ::write(master_, held_.data(), held_.size());
    if (n <= 0) break;
    held_.erase(0, static_cast<std::size_t>(n));
  }
  // The rest waits until the slave's input has room again.
  writable_->setEnabled(!held_.empty());
}

void TPtyBridge::FollowLine() {
  TPtyLine now = line_;
  if (!ReadPtyLine(master_, now) || now == line_) return;
  // Speed 0 is a terminal's hang-up: DTR drops until a speed is set again.
  if ((now.baud == 0) != (line_.baud == 0)) {
    port_.SetDTR(now.baud != 0);
    say_(now.baud == 0 ? "DTR dropped (speed 0)" : "DTR raised");
  }
  if (now.baud == 0) {
    line_.baud = 0;
    return;
  }
  if (now.baud != line_.baud) port_.SetBaudRate(now.baud);
  if (now.stop != line_.stop) port_.SetStopBits(now.stop);
  if (now.flow != line_.flow) port_.SetStreamProtocol(now.flow);
  line_ = now;
  say_("line " + LineText(now));
}

}  // namespace vxbridge
