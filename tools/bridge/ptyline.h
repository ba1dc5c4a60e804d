// The line settings a program sets on a pseudo-terminal that the pty keeps (speed, stop bits,
// flow control), read from and written to the pty's master as the serial component takes
// them. Data bits and parity are not among them: a pty always reads 8 bits without parity,
// whatever a program sets.
//
// Thread: any; nothing here keeps state.
#pragma once

#include <cstdint>

#include "vxcomm/vxcomm.h"

namespace vxbridge {

struct TPtyLine {
  vxcomm::Cardinal baud = 9600;
  vxcomm::TStopBits stop = vxcomm::sbOne;
  vxcomm::TStreamProtocol flow = vxcomm::spNone;

  bool operator==(const TPtyLine&) const = default;
};

// The line the slave of Master runs at; false (Line untouched) when it cannot be read.
bool ReadPtyLine(int master, TPtyLine& line);
// Makes the slave of Master a raw line at Line; the errno of the failure, or 0.
int WritePtyLine(int master, const TPtyLine& line);

}  // namespace vxbridge
