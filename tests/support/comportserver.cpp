#include "support/comportserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <stdexcept>

namespace {
constexpr std::uint8_t kIac = 255, kSb = 250, kSe = 240, kWill = 251, kDo = 253, kComPort = 44;

std::string Escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    out += c;
    if (static_cast<std::uint8_t>(c) == kIac) out += c;
  }
  return out;
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}
}  // namespace

ComPortServer::ComPortServer(bool ipv6) {
  listener_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int bound = -1;
  if (ipv6) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    bound = ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin6_port);
  } else {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bound = ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  if (listener_ < 0 || bound != 0 || ::listen(listener_, 1) != 0)
    throw std::runtime_error("the scripted server cannot listen");
  stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { Run(); });
}

ComPortServer::~ComPortServer() {
  const std::uint64_t one = 1;
  (void)!::write(stop_fd_, &one, sizeof one);
  thread_.join();
  if (client_ >= 0) ::close(client_);
  ::close(listener_);
  ::close(stop_fd_);
}

void ComPortServer::SetAnswer(std::uint8_t command, const std::string& value) {
  std::lock_guard lock(mutex_);
  answers_[command] = value;
}

void ComPortServer::SetSilent(std::uint8_t command) {
  std::lock_guard lock(mutex_);
  silent_.insert(command);
}

bool ComPortServer::Send(const std::string& raw) {
  int client = -1;
  {
    std::lock_guard lock(mutex_);
    client = client_;
  }
  // Not under mutex_: a send the client does not take yet must not stop the reading.
  std::lock_guard lock(send_mutex_);
  return client >= 0 && SendAll(client, raw);
}

bool ComPortServer::SendComPort(std::uint8_t command, const std::string& value) {
  return Send(std::string{char(kIac), char(kSb), char(kComPort), char(command)} + Escaped(value) +
              std::string{char(kIac), char(kSe)});
}

std::string ComPortServer::Data() {
  std::lock_guard lock(mutex_);
  return data_;
}

std::vector<std::pair<std::uint8_t, std::string>> ComPortServer::Commands() {
  std::lock_guard lock(mutex_);
  return commands_;
}

std::vector<std::string> ComPortServer::Values(std::uint8_t command) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> values;
  for (const auto& [c, v] : commands_)
    if (c == command) values.push_back(v);
  return values;
}

bool ComPortServer::WaitFor(const std::function<bool()>& done, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

bool ComPortServer::Connected() {
  std::lock_guard lock(mutex_);
  return client_ >= 0;
}

void ComPortServer::Run() {
  pollfd p[2] = {{listener_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
  while (::poll(p, 2, -1) < 0 && errno == EINTR) {
  }
  if (p[1].revents) return;
  const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return;
  {
    std::lock_guard lock(mutex_);
    client_ = client;
    const std::lock_guard send_lock(send_mutex_);
    // Com port control, binary both ways, no go-ahead.
    SendAll(client_, std::string{char(kIac), char(kDo), char(kComPort), char(kIac), char(kWill), 0,
                                 char(kIac), char(kDo), 0, char(kIac), char(kWill), 3});
  }
  changed_.notify_all();
  char buffer[4096];
  for (;;) {
    pollfd q[2] = {{client, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (::poll(q, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (q[1].revents) return;
    const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    {
      std::lock_guard lock(mutex_);
      Take(buffer, static_cast<std::size_t>(n));
    }
    changed_.notify_all();
  }
}

void ComPortServer::Take(const char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    switch (state_) {
      case State::Data:
        if (b == kIac)
          state_ = State::Iac;
        else
          data_ += char(b);
        break;
      case State::Iac:
        if (b == kIac) {
          data_ += char(b);
          state_ = State::Data;
        } else if (b == kSb) {
          sub_.clear();
          state_ = State::Sub;
        } else {
          // The client's WILL/DO/WONT/DONT: what we offered stands, nothing is answered.
          state_ = b >= kWill ? State::Option : State::Data;
        }
        break;
      case State::Option:
        state_ = State::Data;
        break;
      case State::Sub:
        if (b == kIac)
          state_ = State::SubIac;
        else
          sub_ += char(b);
        break;
      case State::SubIac:
        if (b == kIac) {
          sub_ += char(b);
          state_ = State::Sub;
          break;
        }
        state_ = State::Data;
        if (b != kSe || sub_.size() < 2 || static_cast<std::uint8_t>(sub_[0]) != kComPort) break;
        const auto command = static_cast<std::uint8_t>(sub_[1]);
        std::string value = sub_.substr(2);
        commands_.emplace_back(command, value);
        if (silent_.count(command)) break;
        if (const auto it = answers_.find(command); it != answers_.end()) value = it->second;
        const std::lock_guard send_lock(send_mutex_);
        SendAll(client_, std::string{char(kIac), char(kSb), char(kComPort), char(command + 100)} +
                             Escaped(value) + std::string{char(kIac), char(kSe)});
        break;
    }
  }
}
