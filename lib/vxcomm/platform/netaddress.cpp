#include "vxcomm/platform/netaddress.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace vxcomm {

namespace {
constexpr const char* kTcpScheme = "tcp://";
constexpr const char* kTelnetScheme = "rfc2217://";

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

TvxSerialError BadName(const std::string& name, const std::string& why) {
  return {EINVAL, "Bad network port name \"" + name + "\": " + why};
}

// Connects Fd (non-blocking) to Address within TimeoutMs; 0 or the errno.
int ConnectWithin(int fd, const addrinfo& address, int timeoutMs) {
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  pollfd p{fd, POLLOUT, 0};
  int n;
  do n = ::poll(&p, 1, timeoutMs);
  while (n < 0 && errno == EINTR);
  if (n == 0) return ETIMEDOUT;
  if (n < 0) return errno;
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
  return error;
}
}  // namespace

bool vxIsNetPortName(const std::string& name) {
  return StartsWith(name, kTcpScheme) || StartsWith(name, kTelnetScheme);
}

TvxSerialError vxParseNetAddress(const std::string& name, TvxNetAddress& address) {
  if (!vxIsNetPortName(name)) return BadName(name, "the scheme is neither tcp:// nor rfc2217://");
  address.telnet = StartsWith(name, kTelnetScheme);
  const std::string rest = name.substr(std::strlen(address.telnet ? kTelnetScheme : kTcpScheme));
  std::string::size_type colon;
  if (!rest.empty() && rest[0] == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos) return BadName(name, "the IPv6 address lacks its \"]\"");
    address.host = rest.substr(1, close - 1);
    colon = close + 1;
    if (colon >= rest.size() || rest[colon] != ':') return BadName(name, "the port is missing");
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return BadName(name, "the port is missing");
    address.host = rest.substr(0, colon);
    if (address.host.find(':') != std::string::npos)
      return BadName(name, "an IPv6 address goes in brackets, as in [::1]:7000");
  }
  if (address.host.empty()) return BadName(name, "the host is missing");
  address.port = rest.substr(colon + 1);
  if (address.port.empty()) return BadName(name, "the port is missing");
  if (address.port.size() > 5 ||
      address.port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(address.port) < 1 || std::stoi(address.port) > 65535)
    return BadName(name, "the port must be a number from 1 to 65535");
  return {};
}

TvxSerialError vxConnectTcp(const TvxNetAddress& address, int timeoutMs, int& fd) {
  const std::string where = address.host + " port " + address.port;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int rc = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found))
    return {EHOSTUNREACH,
            std::string("Cannot find host ") + address.host + ": " + gai_strerror(rc)};
  int error = ECONNREFUSED;
  fd = -1;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
      error = errno;
      continue;
    }
    error = ConnectWithin(s, *a, timeoutMs);
    if (error == 0) {
      fd = s;
      break;
    }
    ::close(s);
  }
  ::freeaddrinfo(found);
  if (fd < 0) return {error, std::string(std::strerror(error)) + " (connecting to " + where + ")"};
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return {};
}

}  // namespace vxcomm
