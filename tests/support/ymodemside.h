// Our end of a serial line for YMODEM tests: a TvxYModem on a TransferSide (a real TvxComm
// on a device path, a test log, fatal errors collected, every result kept).
#pragma once

#include <string>

#include "support/transferside.h"
#include "vxcomm/vxymodem.h"

struct YModemSide : TransferSide {
  // Opens Device (a pty path or a null-modem end) as COM<PortNumber> at 115200 8N1.
  YModemSide(const std::string& device, int portNumber) { Attach(ymodem, device, portNumber); }
  ~YModemSide() { Detach(ymodem); }

  TvxYModem ymodem;
};
