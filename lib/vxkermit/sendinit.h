// The Send-Init parameter block: this side's proposal, the reading of a peer's block with
// Kermit's defaults for what it leaves out, and the receiver's answer, which promises
// nothing this engine does not do.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vxkermit {

inline constexpr std::size_t kInitFieldCount = 10;
using TInitParams = std::array<std::uint8_t, kInitFieldCount>;

// Field positions in the block.
enum TInitField : std::size_t {
  ipMaxl = 0,
  ipTime,
  ipNpad,
  ipPadc,
  ipEol,
  ipQctl,
  ipQbin,
  ipChkt,
  ipRept,
  ipCapas,
};

inline constexpr std::uint8_t kCapasAttributes = 8;  // can accept A packets

// This side's proposal: MAXL 94, TIME from TimeoutMs (whole seconds, below 1 gives 5,
// above 60 gives 60), no padding, CR as EOL, "#" as prefix, QBIN "Y", CHKT "1" + CrcOrdinal,
// no repeat counts, attributes.
TInitParams OwnProposal(std::int64_t timeoutMs, int crcOrdinal);

// Reads the block of a received S or of the Y that answers one. Fields the peer left out,
// and MAXL, QCTL or CHKT values this engine cannot use, take Kermit's defaults (MAXL 80,
// "#", block check type 1); a MAXL above 94 counts as 94.
TInitParams ReadInitParams(const std::uint8_t* data, std::size_t len);

// The receiver's answer to a sender's block: the sender's values, with repeat counts
// refused, QBIN "N" when the sender proposed a prefix character, and of CAPAS only the
// attribute capability (no long packets, windows, locking shifts or resend).
TInitParams AnswerSendInit(const TInitParams& sender);

// The check index (0..2) that a block's CHKT names.
inline int CheckIndexOf(const TInitParams& p) {
  return p[ipChkt] - '1';
}
// The prefix character.
inline std::uint8_t QctlOf(const TInitParams& p) {
  return p[ipQctl];
}
// The longest data field a packet may carry under the block's MAXL with CheckIndex.
inline std::size_t MaxDataField(const TInitParams& p, int checkIndex) {
  return static_cast<std::size_t>(p[ipMaxl] - 32 - (checkIndex + 1) - 2);
}

}  // namespace vxkermit
