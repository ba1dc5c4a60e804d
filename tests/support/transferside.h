// Our end of a serial line for the tests of a file-transfer component: a real TvxComm on a
// device path (mapped to a COM number) whose data processor is the component, with a test
// log, fatal errors collected instead of raised, and every file result and the session's
// result kept. A protocol's side holds its component and attaches it (see ZModemSide).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxftbase.h"

struct TransferSide {
  TransferSide() = default;
  // Shows the log's last lines when the test failed.
  ~TransferSide();
  TransferSide(const TransferSide&) = delete;
  TransferSide& operator=(const TransferSide&) = delete;

  // The session ended (OnSessionEnd ran).
  bool Ended() const { return sessions > 0; }
  // The session ended and reports success: ended by the protocol, Files files complete.
  bool Succeeded(int files) const {
    return Ended() && last.Ok() && last.Files(foComplete) == files;
  }
  // The names of the files reported complete, as stored.
  std::vector<std::string> Complete() const;

  TvxComm comm;
  TvxTestLog log;
  std::vector<std::string> fatal;
  TvxSessionResult last;
  std::vector<TvxFileResult> files;  // every file result, in order
  int sessions = 0;

 protected:
  // Makes Protocol the data processor of the line on Device (a pty path or a null-modem end),
  // opened as COM<PortNumber> at 115200 8N1, its events filling the members above.
  void Attach(TvxCustomFileTransfer& protocol, const std::string& device, int portNumber);
  // Closes the line and forgets Protocol's handlers: the component outlives the members they
  // fill, and a session still open when the test ends tells its results to nobody.
  void Detach(TvxCustomFileTransfer& protocol);
};
