// Letting a port's queued output leave before the port closes: closing purges it.
//
// Thread: the program's main thread.
#pragma once

class TvxComm;

// Processes events until Comm's output queue is empty, Comm closes or LimitMs pass, so that
// a last packet (an acknowledgement, an error packet) reaches the line.
void DrainOutput(TvxComm& comm, int limitMs);
