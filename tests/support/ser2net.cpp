#include "support/ser2net.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <stdexcept>

namespace {

// A socket address on the loopback of Family (AF_INET or AF_INET6) with Port.
struct Loopback {
  explicit Loopback(int family, int port = 0) {
    if (family == AF_INET6) {
      v6.sin6_family = AF_INET6;
      v6.sin6_addr = in6addr_loopback;
      v6.sin6_port = htons(static_cast<std::uint16_t>(port));
    } else {
      v4.sin_family = AF_INET;
      v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      v4.sin_port = htons(static_cast<std::uint16_t>(port));
    }
    size = family == AF_INET6 ? sizeof v6 : sizeof v4;
  }
  sockaddr* Address() {
    return v6.sin6_family ? reinterpret_cast<sockaddr*>(&v6) : reinterpret_cast<sockaddr*>(&v4);
  }
  int Port() const { return ntohs(v6.sin6_family ? v6.sin6_port : v4.sin_port); }
  sockaddr_in v4{};
  sockaddr_in6 v6{};
  socklen_t size;
};

// A TCP port nobody listens on now: one the system gave a socket bound to port 0.
int FreePort(int family) {
  const int s = ::socket(family, SOCK_STREAM, 0);
  Loopback a(family);
  ::bind(s, a.Address(), a.size);
  ::getsockname(s, a.Address(), &a.size);
  ::close(s);
  return a.Port();
}

// True once something listens on Port: a bind there is refused. (A probe by connecting would
// be a session of its own, holding the server's device for a while.)
bool Listening(int family, int port) {
  const int s = ::socket(family, SOCK_STREAM, 0);
  Loopback a(family, port);
  const bool taken = ::bind(s, a.Address(), a.size) != 0 && errno == EADDRINUSE;
  ::close(s);
  return taken;
}

}  // namespace

int FreeLoopbackPort() {
  return FreePort(AF_INET);
}

Ser2Net::Ser2Net(const std::string& dir, const std::string& device, const std::string& line) {
  raw_port_ = FreePort(AF_INET);
  telnet_port_ = FreePort(AF_INET);
  telnet6_port_ = FreePort(AF_INET6);
  const std::string config = dir + "/ser2net.yaml";
  const std::string connector = "\n  connector: serialdev," + device + "," + line + ",local\n";
  std::ofstream(config) << "%YAML 1.1\n---\n"
                        << "connection: &raw\n  accepter: tcp,127.0.0.1," << raw_port_ << connector
                        << "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                        << telnet_port_ << connector
                        << "connection: &telnet6\n  accepter: telnet(rfc2217),tcp,::1,"
                        << telnet6_port_ << connector;
  if (!server_.Start("/usr/sbin/ser2net", {"-n", "-d", "-P", dir + "/ser2net.pid", "-c", config},
                     dir + "/ser2net.log"))
    throw std::runtime_error("ser2net does not start");
  QElapsedTimer clock;
  clock.start();
  while (!(Listening(AF_INET, raw_port_) && Listening(AF_INET, telnet_port_) &&
           Listening(AF_INET6, telnet6_port_))) {
    if (clock.elapsed() > 10000) {
      Stop();
      throw std::runtime_error("ser2net does not listen");
    }
    QThread::msleep(20);
  }
}

Ser2Net::~Ser2Net() {
  Stop();
}

void Ser2Net::Stop() {
  server_.Signal(SIGKILL, 5000);
}

std::string Ser2Net::RawUrl() const {
  return "tcp://127.0.0.1:" + std::to_string(raw_port_);
}
std::string Ser2Net::TelnetUrl() const {
  return "rfc2217://127.0.0.1:" + std::to_string(telnet_port_);
}
std::string Ser2Net::Telnet6Url() const {
  return "rfc2217://[::1]:" + std::to_string(telnet6_port_);
}
