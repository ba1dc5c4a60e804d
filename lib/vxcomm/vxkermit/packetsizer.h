/// @file
/// The length of the next data packet when long packets are agreed, chosen from what the line
/// did to the packets before it: long packets while they get through, short ones where they
/// are damaged. On a line with one fault in a thousand bytes a packet of 9000 bytes almost
/// never arrives whole, so a sender that starts long spends its repeats on the first packet
/// and gives up. A packet that is repeated never changes length (its receiver may already
/// hold it); only new packets follow the record.
///
/// Thread: none; the Kermit component's thread.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstddef>

namespace vxcomm {

namespace vxkermit {

/// Chooses the length of new data packets from the record of the line's faults; see the file
/// description. Owned by its component; no lock.
class VXCOMM_EXPORT TPacketSizer {
 public:
  /// A data packet of Chars field characters was acknowledged after Repeats repeats (a
  /// negative count counts as 0).
  void Delivered(std::size_t chars, int repeats);
  /// Forgets the record: the next length is the one for a line not yet seen.
  void Reset();
  /// The field length for the next data packet, within [Floor, Ceiling]: one that gets
  /// through about four times in five at the fault rate seen so far. Floor when it is above
  /// Ceiling.
  std::size_t Next(std::size_t floor, std::size_t ceiling) const;

 private:
  /// What crossed and what failed, both halved once the record passes kMemoryBytes so that the
  /// estimate follows a line that changes. Each copy of a packet counts.
  double bytes_ = 0;
  double failures_ = 0;  ///< see bytes_
};

}  // namespace vxkermit

}  // namespace vxcomm
