// Our end of a serial line for XMODEM tests: a TvxXModem as the data processor of a real
// TvxComm on a device path (mapped to a COM number), with a test log, fatal errors collected
// instead of raised, and the session's result kept.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxxmodem.h"

struct XModemSide {
  // Opens Device (a pty path or a null-modem end) as COM<PortNumber> at 115200 8N1.
  XModemSide(const std::string& device, int portNumber);
  ~XModemSide();
  XModemSide(const XModemSide&) = delete;
  XModemSide& operator=(const XModemSide&) = delete;

  // The session ended (OnSessionEnd ran).
  bool Ended() const { return sessions > 0; }
  // The session ended and reports success: ended by the protocol, its one file complete.
  bool Succeeded() const { return Ended() && last.Ok() && last.Files(foComplete) == 1; }

  TvxComm comm;
  TvxXModem xmodem;
  TvxTestLog log;
  std::vector<std::string> fatal;
  TvxSessionResult last;
  TvxFileResult file;  // the last file's result
  int sessions = 0;
};

// Received is Sent followed by nothing but SUB, short of one more block of Block bytes and
// ending on a 128-byte boundary: what XMODEM delivers for a file it reports received.
::testing::AssertionResult SentUpToPadding(const std::string& sent, const std::string& received,
                                           std::size_t block);
