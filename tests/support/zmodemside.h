// Our end of a serial line for ZMODEM tests: a TvxZModem as the data processor of a real
// TvxComm on a device path (mapped to a COM number), with a test log, fatal errors collected
// instead of raised, and every file result and the session's result kept.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxzmodem.h"

struct ZModemSide {
  // Opens Device (a pty path or a null-modem end) as COM<PortNumber> at 115200 8N1.
  ZModemSide(const std::string& device, int portNumber);
  ~ZModemSide();
  ZModemSide(const ZModemSide&) = delete;
  ZModemSide& operator=(const ZModemSide&) = delete;

  // The session ended (OnSessionEnd ran).
  bool Ended() const { return sessions > 0; }
  // The session ended and reports success: ended by the protocol, Files files complete.
  bool Succeeded(int files) const {
    return Ended() && last.Ok() && last.Files(foComplete) == files;
  }
  // The names of the files reported complete, as stored.
  std::vector<std::string> Complete() const;

  TvxComm comm;
  TvxZModem zmodem;
  TvxTestLog log;
  std::vector<std::string> fatal;
  TvxSessionResult last;
  std::vector<TvxFileResult> files;  // every file result, in order
  int sessions = 0;
};
