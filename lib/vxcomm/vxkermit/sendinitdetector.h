/// @file
/// Finds a Kermit Send-Init among the bytes a line sends to a terminal, so that a transfer
/// the far end starts can be taken at once: a terminal shows what it is given, holding back
/// only the bytes that may still be such a packet.
///
/// Thread: none; the caller's thread owns a detector. Nothing here does I/O.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstddef>
#include <string>

namespace vxcomm {

namespace vxkermit {

/// Splits received bytes into those for the console and a Send-Init with what follows it.
///
/// A Send-Init is MARK (SOH), LEN, SEQ 0, TYPE "S", its parameters and the type 1 check, LEN
/// counting the bytes after it (3 to 94, every one printable); one whose CHKT asks for
/// force-3 ("5") carries the three characters of the type 3 check instead. While the bytes
/// from a SOH on may still be such a packet they are held back; once they cannot be, they are
/// given for the console, and a later SOH among them is looked at again. Owned by its caller;
/// no lock.
class VXCOMM_EXPORT TSendInitDetector {
 public:
  /// What one Feed gives.
  struct TResult {
    std::string show;    ///< bytes for the console, in the order received
    bool found = false;  ///< a whole Send-Init arrived
    /// When found: the packet and every byte after it, for the Kermit component; the
    /// detector then holds nothing.
    std::string packet;
  };
  /// Takes the next Len received bytes of Data.
  TResult Feed(const char* data, std::size_t len);
  /// The bytes held back, released for the console (nothing more came to decide them).
  std::string Release();
  /// True while bytes are held back.
  bool Holding() const { return !held_.empty(); }

 private:
  // What the held bytes are: a packet's start, a Send-Init or no Send-Init at all.
  enum TVerdict { More, SendInit, NotOne };
  TVerdict Judge() const;

  std::string held_;  // from a SOH on: the bytes that may still be a Send-Init
};

}  // namespace vxkermit

}  // namespace vxcomm
