#include "vxcomm/platform/netrelay.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace vxcomm {

namespace {
// Writes all of Bytes to Fd; 0 or the errno.
int WriteAll(int fd, const char* bytes, std::size_t count, bool socket) {
  while (count) {
    const ssize_t n = socket ? ::send(fd, bytes, count, MSG_NOSIGNAL) : ::write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return 0;
}

TvxSerialError ConnectionLost(int error) {
  if (error == 0) return {EIO, "The server closed the connection"};
  return {EIO, std::string("The connection to the server failed: ") + std::strerror(error)};
}
}  // namespace

TvxNetRelay::TvxNetRelay(int socket, int master, bool telnet)
    : socket_(socket), master_(master), telnet_(telnet) {
  stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (telnet_) SendRaw(decoder_.Greeting());
  thread_ = std::thread([this] { Run(); });
}

TvxNetRelay::~TvxNetRelay() {
  Stop();
}

void TvxNetRelay::Stop() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    (void)!::write(stop_fd_, &one, sizeof one);
    thread_.join();
    ::close(socket_);
    ::close(stop_fd_);
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
}

bool TvxNetRelay::WaitComPort(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    return decoder_.ComPortAgreed() || decoder_.ComPortRefused() || failure_;
  });
  return decoder_.ComPortAgreed() && !decoder_.ComPortRefused();
}

std::map<std::uint8_t, unsigned> TvxNetRelay::AnswerCounts() {
  std::lock_guard lock(mutex_);
  return decoder_.AnswerCounts();
}

std::map<std::uint8_t, std::string> TvxNetRelay::WaitAnswers(
    const std::string& commands, const std::map<std::uint8_t, unsigned>& before,
    std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  auto count = [&](const std::map<std::uint8_t, unsigned>& counts, std::uint8_t command) {
    const auto it = counts.find(command);
    return it == counts.end() ? 0u : it->second;
  };
  changed_.wait_for(lock, timeout, [&] {
    if (failure_) return true;
    for (char c : commands) {
      const auto command = static_cast<std::uint8_t>(c);
      if (count(decoder_.AnswerCounts(), command) <= count(before, command)) return false;
    }
    return true;
  });
  std::map<std::uint8_t, std::string> answers;
  for (char c : commands) {
    const auto command = static_cast<std::uint8_t>(c);
    const auto it = decoder_.Answers().find(command);
    if (it != decoder_.Answers().end() &&
        count(decoder_.AnswerCounts(), command) > count(before, command))
      answers[command] = it->second;
  }
  return answers;
}

void TvxNetRelay::SetOnNotice(std::function<void(const TvxComPortNotice&)> onNotice) {
  std::lock_guard lock(mutex_);
  on_notice_ = std::move(onNotice);
}

TvxSerialError TvxNetRelay::Failure() {
  std::lock_guard lock(mutex_);
  return failure_;
}

bool TvxNetRelay::SendRaw(const std::string& bytes) {
  std::lock_guard lock(send_mutex_);
  return WriteAll(socket_, bytes.data(), bytes.size(), true) == 0;
}

void TvxNetRelay::Lose(const TvxSerialError& reason) {
  {
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = reason;
  }
  changed_.notify_all();
  // The terminal device on the other end sees a hang-up and reports the device gone.
  ::close(master_);
  master_ = -1;
}

void TvxNetRelay::Run() {
  char buffer[4096];
  bool suspended = false;  // the server's FLOWCONTROL-SUSPEND, as the last read left it
  while (master_ >= 0) {
    pollfd p[3] = {{socket_, POLLIN, 0},
                   {master_, static_cast<short>(suspended ? 0 : POLLIN), 0},
                   {stop_fd_, POLLIN, 0}};
    if (::poll(p, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return Lose(ConnectionLost(errno));
    }
    if (p[2].revents) return;
    if (p[0].revents) {
      const ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Lose(ConnectionLost(n < 0 ? errno : 0));
      // Acknowledged at once, not delayed: a server that sends a packet in two writes holds
      // the second until the first is acknowledged (Nagle), and a Kermit packet would wait
      // for the delayed acknowledgement every time. Linux clears the flag again, so each time.
      const int one = 1;
      ::setsockopt(socket_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
      std::string data, replies;
      if (telnet_) {
        std::lock_guard lock(mutex_);
        decoder_.Feed(buffer, static_cast<std::size_t>(n), data, replies);
        suspended = decoder_.Suspended();
        const TvxComPortNotice notice = decoder_.TakeNotice();
        if (notice.fresh && on_notice_) on_notice_(notice);
      } else {
        data.assign(buffer, static_cast<std::size_t>(n));
      }
      changed_.notify_all();
      if (!replies.empty() && !SendRaw(replies)) return Lose(ConnectionLost(EPIPE));
      if (WriteAll(master_, data.data(), data.size(), false)) return Lose(ConnectionLost(EIO));
    }
    if (p[1].revents & POLLIN) {
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) {
        const std::string bytes(buffer, static_cast<std::size_t>(n));
        if (!SendRaw(telnet_ ? vxTelnetEscape(bytes) : bytes)) return Lose(ConnectionLost(errno));
      }
    }
  }
}

}  // namespace vxcomm
