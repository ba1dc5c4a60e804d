#include "vxcomm/platform/serialnet.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

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

// The SET-CONTROL value for the flow control of Flags: 3 hardware, 2 XON/XOFF, 1 none.
std::uint8_t FlowControlValue(std::uint32_t flags) {
  if ((flags & dcbflag::OutxCtsFlow) || (flags & dcbflag::RtsControlMask) == dcbflag::RtsHandshake)
    return 3;
  return (flags & (dcbflag::OutX | dcbflag::InX)) ? 2 : 1;
}

// The PURGE-DATA value for Purge flags: 1 the server's receive buffer, 2 its transmit
// buffer, 3 both; 0 for none.
std::uint8_t PurgeValue(std::uint32_t flags) {
  const bool in = flags & (PURGE_RXCLEAR | PURGE_RXABORT);
  const bool out = flags & (PURGE_TXCLEAR | PURGE_TXABORT);
  return in && out ? 3 : in ? 1 : out ? 2 : 0;
}

// The line state bits the server is asked to notify: break, framing, parity, overrun.
constexpr std::uint8_t kLineErrorBits = 0x1e;

// The events and line errors a notification raises (EV_*, CE_*: the line state's error bits
// are the CE_ ones).
std::uint32_t NoticeEvents(const TvxComPortNotice& notice) {
  std::uint32_t events = 0;
  if (notice.modem_change & 0x01) events |= EV_CTS;
  if (notice.modem_change & 0x02) events |= EV_DSR;
  if (notice.modem_change & 0x04) events |= EV_RING;
  if (notice.modem_change & 0x08) events |= EV_RLSD;
  if (notice.line & 0x10) events |= EV_BREAK;
  if (notice.line & 0x0e) events |= EV_ERR;
  return events;
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
        telnet_(telnet) {
    relay_->SetOnNotice([this](const TvxComPortNotice& notice) { Notice(notice); });
  }
  ~TvxNetSerialDevice() override { Close(); }

  TvxSerialError SetState(const TDCB& dcb) override {
    if (!telnet_) return tty_->SetState(dcb);
    // The server's line does the XON/XOFF: the pseudo-terminal here passes them as data.
    TDCB local = dcb;
    local.Flags &= ~(dcbflag::OutX | dcbflag::InX);
    if (TvxSerialError error = tty_->SetState(local)) return error;
    if (!relay_->WaitComPort(kNegotiationTimeout))
      return {EIO, "The server does not take line settings (no com port control)"};
    const std::string commands{char(kSetBaudRate), char(kSetDataSize), char(kSetParity),
                               char(kSetStopSize), char(kSetControl)};
    const std::string values[] = {vxBaudRateValue(dcb.BaudRate), std::string(1, char(dcb.ByteSize)),
                                  ParityValue(dcb.Parity), StopSizeValue(dcb.StopBits),
                                  std::string(1, char(FlowControlValue(dcb.Flags)))};
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
    flags_.store(dcb.Flags);
    flags_confirmed_.store(true);
    return {};
  }
  TvxSerialError GetState(TDCB& dcb) override {
    if (TvxSerialError error = tty_->GetState(dcb)) return error;
    // The flow control runs on the server's line, as its answer to SetState confirmed.
    if (telnet_ && flags_confirmed_.load()) dcb.Flags = flags_.load();
    return {};
  }
  void SetQueueSizes(std::uint32_t in, std::uint32_t out) override { tty_->SetQueueSizes(in, out); }
  TvxSerialError SetMask(std::uint32_t mask) override {
    if (TvxSerialError error = tty_->SetMask(mask)) return error;
    mask_.store(mask);
    if (!telnet_ || !relay_->WaitComPort(kNegotiationTimeout)) return {};
    // Every modem line is asked for, so that ModemStatus follows the levels.
    const std::uint8_t line = (mask & (EV_ERR | EV_BREAK)) ? kLineErrorBits : 0;
    if (!relay_->SendRaw(vxComPortCommand(kSetLineStateMask, std::string(1, char(line))) +
                         vxComPortCommand(kSetModemStateMask, std::string(1, char(0xff)))))
      return Lost();
    return {};
  }
  TvxEventFds EventFds() const override { return tty_->EventFds(); }
  bool WatchInput() override { return tty_->WatchInput(); }
  void Wake() override { tty_->Wake(); }
  TvxLineStatus Status() override {
    TvxLineStatus status = tty_->Status();
    std::lock_guard lock(notice_mutex_);
    status.errors |= errors_;
    errors_ = 0;
    return status;
  }
  TvxSerialError Read(void* buffer, std::uint32_t count, std::uint32_t& done) override {
    tty_->SetTimeouts(Timeouts());
    return tty_->Read(buffer, count, done);
  }
  TvxSerialError ModemStatus(std::uint32_t& status) override {
    if (telnet_) {
      // The MS_ bits are the high half of the server's modem state.
      std::lock_guard lock(notice_mutex_);
      status = modem_ & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
      SetLastLineCallError(0);
      return {};
    }
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
    // A server whose line lacks DTR, RTS or break may leave their commands unanswered (one
    // serving a pseudo-terminal does): once it did, the next ones of the kind go unawaited,
    // so that each change does not cost the answer's time-out.
    const unsigned kind = 1u << ((value - 4) / 3);  // 4..6 break, 7..9 DTR, 10..12 RTS
    const auto before = relay_->AnswerCounts();
    if (!relay_->SendRaw(vxComPortCommand(kSetControl, std::string(1, char(value))))) return Lost();
    if (unanswered_.load() & kind) return relay_->Failure();
    if (relay_->WaitAnswers(command, before, kAnswerTimeout).empty()) unanswered_.fetch_or(kind);
    return relay_->Failure();
  }
  TvxSerialError Purge(std::uint32_t flags) override {
    const TvxSerialError error = tty_->Purge(flags);
    const std::uint8_t value = PurgeValue(flags);
    if (error || !telnet_ || value == 0) return error;
    const std::string command{char(kPurgeData)};
    const auto before = relay_->AnswerCounts();
    if (!relay_->SendRaw(vxComPortCommand(kPurgeData, std::string(1, char(value))))) return Lost();
    const auto answers = relay_->WaitAnswers(command, before, kAnswerTimeout);
    if (TvxSerialError failure = relay_->Failure()) return failure;
    if (answers.empty()) return {ETIMEDOUT, "The server did not confirm the purge"};
    return {};
  }
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
    std::uint32_t events = 0, errors = 0;
    {
      std::lock_guard lock(notice_mutex_);
      events = std::exchange(events_, 0);
      errors = std::exchange(errors_, 0);
    }
    // A look with line errors takes no bytes: they stay queued for the next look, which the
    // wake asks for.
    TvxLineReport report = errors ? tty_->Look(nullptr, 0) : tty_->Look(buffer, size);
    if (errors) tty_->Wake();
    report.events |= events & mask_.load();
    report.errors |= errors;
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
  // On the relay thread: keeps what the server told for the next look and wakes its caller.
  void Notice(const TvxComPortNotice& notice) {
    {
      std::lock_guard lock(notice_mutex_);
      events_ |= NoticeEvents(notice);
      errors_ |= notice.line & kLineErrorBits;
      modem_ = notice.modem;
    }
    tty_->Wake();
  }

  TvxSerialError Lost() {
    TvxSerialError failure = relay_->Failure();
    return failure ? failure : TvxSerialError{EIO, "The connection to the server failed"};
  }

  std::shared_ptr<TvxSerialDevice> tty_;
  std::unique_ptr<TvxNetRelay> relay_;
  int slave_keeper_;  // keeps the slave end open so that the master never sees a hang-up
  const bool telnet_;
  std::atomic<std::uint32_t> flags_{0};       // the control block flags the server confirmed
  std::atomic<bool> flags_confirmed_{false};  // true once the server confirmed a SetState
  std::atomic<std::uint32_t> mask_{0};        // the event mask of SetMask
  std::atomic<unsigned> unanswered_{0};       // SET-CONTROL kinds the server left unanswered
  std::mutex notice_mutex_;                   // guards events_, errors_, modem_ (relay thread sets)
  std::uint32_t events_ = 0;                  // EV_ bits notified and not yet looked at
  std::uint32_t errors_ = 0;                  // CE_ bits notified and not yet looked at
  std::uint8_t modem_ = 0;                    // the server's last modem state
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
  // The terminal end opens (empty, as every port does) before the relay hands it the
  // server's first bytes.
  TvxSerialOpen tty = vxOpenTtyDevice(path);
  if (!tty.device) {
    ::close(socket);
    ::close(master);
    ::close(keeper);
    result.error = tty.error;
    return result;
  }
  auto relay = std::make_unique<TvxNetRelay>(socket, master, address.telnet);
  result.device = std::make_shared<TvxNetSerialDevice>(std::move(tty.device), std::move(relay),
                                                       keeper, address.telnet);
  return result;
}

}  // namespace vxcomm
