// Network port names: "tcp://HOST:PORT" (raw bytes over TCP) and "rfc2217://HOST:PORT"
// (Telnet with the com port control option), HOST a name, an IPv4 literal or an IPv6 literal
// in brackets ("[::1]:7000"); and the connect that reaches one within a time-out.
//
// Thread: any.
#pragma once

#include <string>

#include "vxcomm/platform/serialdevice.h"
#include "vxcomm/vxcomm_export.h"

namespace vxcomm {

// Where a network port name points.
struct TvxNetAddress {
  bool telnet = false;  // rfc2217://: Telnet with the com port control option
  std::string host;     // without the brackets of an IPv6 literal
  std::string port;     // decimal, 1..65535
};

// True when Name has one of the network schemes (whether or not the rest is sound).
// Exported: the terminal program tells network ports from local ones with it.
VXCOMM_EXPORT bool vxIsNetPortName(const std::string& name);
// Parses Name into Address; EINVAL with a text that says what is wrong.
TvxSerialError vxParseNetAddress(const std::string& name, TvxNetAddress& address);
// Connects to Address within TimeoutMs and puts the blocking socket in Fd. The error names
// the host: an unknown host (EHOSTUNREACH), a refusal, ETIMEDOUT.
TvxSerialError vxConnectTcp(const TvxNetAddress& address, int timeoutMs, int& fd);

}  // namespace vxcomm
