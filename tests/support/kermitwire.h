// Kermit packets as they appear on the wire, for tests that talk to one component by hand.
#pragma once

#include <string>

namespace kermitwire {

// One framed packet: MARK, LEN, SEQ, TYPE, Data, the check of CheckIndex, CR.
std::string Packet(char type, unsigned seq, const std::string& data, int checkIndex);

}  // namespace kermitwire
