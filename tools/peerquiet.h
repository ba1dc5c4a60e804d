// After a session was aborted: reading what a peer still sends until it stops.
//
// Thread: the program's main thread.
#pragma once

#include "vxcomm/unqualified.h"

namespace vxcomm {
class TvxComm;
}  // namespace vxcomm

// Processes events until the output has left and nothing has arrived for QuietMs, Comm
// closes or LimitMs pass. A peer that keeps sending fills the line (and a relay between it
// and us) until its packets are read, and may never get the error packet behind them;
// read, each one is answered with the error packet again.
void WaitUntilPeerQuiet(TvxComm& comm, int quietMs, int limitMs);
