// Our end of a serial line for Kermit tests: a TvxKermit as the data processor of a real
// TvxComm on a device path (mapped to a COM number), with a test log and fatal errors
// collected instead of raised.
#pragma once

#include <string>
#include <vector>

#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxkermit.h"

struct KermitSide {
  // Opens Device (a pty path or a null-modem end) as COM<PortNumber> at 115200 8N1.
  KermitSide(const std::string& device, int portNumber);
  ~KermitSide();
  KermitSide(const KermitSide&) = delete;
  KermitSide& operator=(const KermitSide&) = delete;

  bool HasEntry(const std::string& prefix) const;
  // Call from OnFileStart: the first call keeps the engine's repeat and time-out counts.
  void NoteFileStart();
  // From the first file on, neither side sent a packet again and no wait for the peer ran
  // out: what a clean line must show, on a loaded machine too. The Send-Init exchange is left
  // out: a peer that takes the line discards what came before (ckermit does), and the first
  // Send-Init may go again for that alone.
  void ExpectNoRepeats() const;
  // Prints the protocol entries of the log; for failing tests.
  void DumpLog() const;

  TvxComm comm;
  TvxKermit kermit;
  TvxTestLog log;
  std::vector<std::string> fatal;

 private:
  struct Counts {
    int sent = -1, received = -1, timeouts = -1;
  } at_first_file_;
};
