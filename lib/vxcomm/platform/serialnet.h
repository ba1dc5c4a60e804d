// The serial layer's device for a network port (netaddress.h): the line is a TCP connection,
// raw or Telnet with the com port control option. A relay thread carries the bytes between
// the socket and a pseudo-terminal whose other end is opened as a terminal device
// (serialtty.h), so that looks, reads, writes, purges and time-outs keep that device's
// contract; the connection's end closes the pseudo-terminal, which the terminal device
// reports as a vanished device, with the connection's reason.
//
// For rfc2217:// the line settings of SetState go to the server (baud rate, data size,
// parity, stop size, flow control) and its answers are checked; DTR, RTS and break go as
// SET-CONTROL, a purge also purges the server's buffers (PURGE-DATA). The server is asked to
// notify every modem line change and, when the event mask wants errors or breaks, the line
// errors: they come as the device's events, line errors and modem status. For tcp:// the
// line settings stay local.
#pragma once

#include <string>

#include "vxcomm/platform/serialdevice.h"

namespace vxcomm {

// Opens the network port Name within the connect time-out. A bad name is EINVAL with a text
// that says what is wrong; an unknown host, a refusal and a time-out say so with the host.
TvxSerialOpen vxOpenNetDevice(const std::string& name);

}  // namespace vxcomm
