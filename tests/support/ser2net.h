// ser2net run as a black box on the loopback address, serving one device (one end of a socat
// pair) on three accepters: raw TCP and Telnet with com port control on 127.0.0.1, and Telnet
// with com port control on ::1. The device starts with Line (ser2net's speed-parity-bits-stop
// form, 9600n81 by default), no modem lines (local).
#pragma once

#include <string>

#include "support/childprocess.h"

// A TCP port on 127.0.0.1 nobody listens on now.
int FreeLoopbackPort();

class Ser2Net {
 public:
  // Starts ser2net with its configuration and log in Dir and waits until every accepter
  // listens; throws std::runtime_error otherwise.
  Ser2Net(const std::string& dir, const std::string& device, const std::string& line = "9600n81");
  ~Ser2Net();
  Ser2Net(const Ser2Net&) = delete;
  Ser2Net& operator=(const Ser2Net&) = delete;

  // Kills the server (as a crash would) and waits until it is gone.
  void Stop();

  int RawPort() const { return raw_port_; }
  int TelnetPort() const { return telnet_port_; }
  int Telnet6Port() const { return telnet6_port_; }
  // tcp:// or rfc2217:// names of the accepters.
  std::string RawUrl() const;
  std::string TelnetUrl() const;
  std::string Telnet6Url() const;

 private:
  ChildProcess server_;
  int raw_port_ = 0, telnet_port_ = 0, telnet6_port_ = 0;
};
