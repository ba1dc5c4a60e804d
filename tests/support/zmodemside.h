// Our end of a serial line for ZMODEM tests: a TvxZModem on a TransferSide (a real TvxComm
// on a device path, a test log, fatal errors collected, every result kept).
#pragma once

#include <string>

#include "support/transferside.h"
#include "vxcomm/vxzmodem.h"

struct ZModemSide : TransferSide {
  // Opens Device (a pty path or a null-modem end) as COM<PortNumber> at 115200 8N1.
  ZModemSide(const std::string& device, int portNumber) { Attach(zmodem, device, portNumber); }
  ~ZModemSide() { Detach(zmodem); }

  TvxZModem zmodem;
};
