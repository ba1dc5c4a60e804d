// Letting a port's queued output leave before the port closes: closing purges it.
//
// Thread: the program's main thread.
#pragma once

class TvxComm;

// Processes events until Comm's output queue is empty, Comm closes or LimitMs pass, so that
// a last packet (an acknowledgement, an error packet) reaches the line.
void DrainOutput(TvxComm& comm, int limitMs);

// After a session was aborted: processes events until the output has left and nothing has
// arrived for QuietMs, Comm closes or LimitMs pass. A peer that keeps sending fills the line
// (and a relay between it and us) until its packets are read, and may never get the error
// packet behind them; read, each one is answered with the error packet again.
void DrainUntilQuiet(TvxComm& comm, int quietMs, int limitMs);
