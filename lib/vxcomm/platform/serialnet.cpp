#include "vxcomm/platform/serialnet.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "vxcomm/platform/netaddress.h"
#include "vxcomm/platform/netrelay.h"
#include "vxcomm/platform/serialtty.h"

namespace vxcomm {

namespace {
using namespace std::chrono_literals;
using namespace telnet;

constexpr int kConnectTimeoutMs = 5000;
constexpr auto kNegotiationTimeout = 3s;
constexpr auto kAnswerTimeout = 3s;

// The com port values of a control block, in the order the line settings are best sent.
std::string ParityValue(std::uint8_t parity) {
  return std::string(1, char(parity + 1));
}
std::string StopSizeValue(std::uint8_t stopBits) {
  return std::string(1, char(stopBits == 0 ? 1 : stopBits == 2 ? 2 : 3));
}

// SET-CONTROL values for an Escape function; 0 for one it has none for.
std::uint8_t ControlValue(int function) {
  switch (function) {
    case SETBREAK:
      return 5;
    case CLRBREAK:
      return 6;
    case SETDTR:
      return 8;
    case CLRDTR:
      return 9;
    case SETRTS:
      return 11;
    case CLRRTS:
      return 12;
  }
  return 0;
}

// A device over a network connection (see serialnet.h). Thread: as TvxSerialDevice; the
// relay has its own thread, the terminal device its own.
class TvxNetSerialDevice final : public TvxSerialDevice {
 public:
  TvxNetSerialDevice(std::shared_ptr<TvxSerialDevice> tty, std::unique_ptr<TvxNetRelay> relay,
                     int slaveKeeper, bool telnet)
      : tty_(std::move(tty)),
        relay_(std::move(relay)),
        slave_keeper_(slaveKeeper),
        telnet_(telnet) {}
  ~TvxNetSerialDevice() override { Close(); }

  TvxSerialError SetState(const TDCB& dcb) override {
    if (TvxSerialError error = tty_->SetState(dcb)) return error;
    if (!telnet_) return {};
    if (!relay_->WaitComPort(kNegotiationTimeout))
      return {EIO, "The server does not take line settings (no com port control)"};
    const std::string commands{char(kSetBaudRate), char(kSetDataSize), char(kSetParity),
                               char(kSetStopSize)};
    const std::string values[] = {vxBaudRateValue(dcb.BaudRate), std::string(1, char(dcb.ByteSize)),
                                  ParityValue(dcb.Parity), StopSizeValue(dcb.StopBits)};
    const auto before = relay_->AnswerCounts();
    std::string out;
    for (std::size_t i = 0; i < commands.size(); ++i)
      out += vxComPortCommand(std::uint8_t(commands[i]), values[i]);
    if (!relay_->SendRaw(out)) return Lost();
    const auto answers = relay_->WaitAnswers(commands, before, kAnswerTimeout);
    if (TvxSerialError failure = relay_->Failure()) return failure;
    for (std::size_t i = 0; i < commands.size(); ++i) {
      const auto it = answers.find(std::uint8_t(commands[i]));
      if (it == answers.end()) return {ETIMEDOUT, "The server did not confirm the line settings"};
      if (it->second != values[i])
        return {EINVAL, "The server's line does not take these settings"};
    }
    return {};
  }
  TvxSerialError GetState(TDCB& dcb) override { return tty_->GetState(dcb); }
  void SetQueueSizes(std::uint32_t in, std::uint32_t out) override { tty_->SetQueueSizes(in, out); }
  TvxSerialError SetMask(std::uint32_t mask) override { return tty_->SetMask(mask); }
  TvxEventFds EventFds() const override { return tty_->EventFds(); }
  bool WatchInput() override { return tty_->WatchInput(); }
  void Wake() override { tty_->Wake(); }
  TvxLineStatus Status() override { return tty_->Status(); }
  TvxSerialError Read(void* buffer, std::uint32_t count, std::uint32_t& done) override {
    tty_->SetTimeouts(Timeouts());
    return tty_->Read(buffer, count, done);
  }
  TvxSerialError ModemStatus(std::uint32_t& status) override {
    const TvxSerialError error = tty_->ModemStatus(status);
    SetLastLineCallError(tty_->LastLineCallError());
    return error;
  }
  TvxSerialError Escape(int function) override {
    const std::uint8_t value = ControlValue(function);
    if (!telnet_ || value == 0) {
      const TvxSerialError error = tty_->Escape(function);
      SetLastLineCallError(tty_->LastLineCallError());
      return error;
    }
    SetLastLineCallError(0);
    const std::string command{char(kSetControl)};
    const auto before = relay_->AnswerCounts();
    if (!relay_->SendRaw(vxComPortCommand(kSetControl, std::string(1, char(value))))) return Lost();
    relay_->WaitAnswers(command, before, kAnswerTimeout);
    return relay_->Failure();
  }
  TvxSerialError Purge(std::uint32_t flags) override { return tty_->Purge(flags); }
  void Close() override {
    tty_->SetRestoreOnClose(false);
    tty_->Close();
    relay_->Stop();
    if (slave_keeper_ >= 0) ::close(slave_keeper_);
    slave_keeper_ = -1;
  }
  std::intptr_t Token() const override { return tty_->Token(); }

 protected:
  TvxLineReport DoLook(void* buffer, std::uint32_t size) override {
    TvxLineReport report = tty_->Look(buffer, size);
    // The terminal device only sees its pseudo-terminal hang up: the relay knows why.
    if (report.failure)
      if (TvxSerialError reason = relay_->Failure()) report.failure = reason;
    return report;
  }
  TvxSerialError DoWrite(const void* buffer, std::uint32_t len, bool wait) override {
    tty_->SetTimeouts(Timeouts());
    return tty_->Write(buffer, len, wait);
  }

 private:
  TvxSerialError Lost() {
    TvxSerialError failure = relay_->Failure();
    return failure ? failure : TvxSerialError{EIO, "The connection to the server failed"};
  }

  std::shared_ptr<TvxSerialDevice> tty_;
  std::unique_ptr<TvxNetRelay> relay_;
  int slave_keeper_;  // keeps the slave end open so that the master never sees a hang-up
  const bool telnet_;
};

// A raw pseudo-terminal: the master in Master, the slave's path in Path; 0 or the errno.
int OpenRawPty(int& master, int& slaveKeeper, std::string& path) {
  master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return errno;
  char name[128];
  if (::grantpt(master) || ::unlockpt(master) || ::ptsname_r(master, name, sizeof name)) {
    const int error = errno;
    ::close(master);
    return error;
  }
  path = name;
  slaveKeeper = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t;
  if (slaveKeeper < 0 || ::tcgetattr(master, &t) != 0) {
    const int error = errno;
    ::close(master);
    if (slaveKeeper >= 0) ::close(slaveKeeper);
    return error;
  }
  ::cfmakeraw(&t);
  ::tcsetattr(master, TCSANOW, &t);
  return 0;
}
}  // namespace

TvxSerialOpen vxOpenNetDevice(const std::string& name) {
  TvxSerialOpen result;
  TvxNetAddress address;
  if ((result.error = vxParseNetAddress(name, address))) return result;
  int socket = -1;
  if ((result.error = vxConnectTcp(address, kConnectTimeoutMs, socket))) return result;
  int master = -1, keeper = -1;
  std::string path;
  if (int error = OpenRawPty(master, keeper, path)) {
    ::close(socket);
    result.error = vxSerialError(error);
    return result;
  }
  auto relay = std::make_unique<TvxNetRelay>(socket, master, address.telnet);
  TvxSerialOpen tty = vxOpenTtyDevice(path);
  if (!tty.device) {
    relay->Stop();
    ::close(keeper);
    result.error = tty.error;
    return result;
  }
  result.device = std::make_shared<TvxNetSerialDevice>(std::move(tty.device), std::move(relay),
                                                       keeper, address.telnet);
  return result;
}

}  // namespace vxcomm
