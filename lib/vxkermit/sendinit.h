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

// True for the characters that can serve as a prefix: 33..62 and 96..126.
constexpr bool IsPrefixChar(std::uint8_t c) {
  return (c >= 33 && c <= 62) || (c >= 96 && c <= 126);
}

// This side's proposal: MAXL 94, TIME from TimeoutMs (whole seconds, below 1 gives 5,
// above 60 gives 60), no padding, CR as EOL, "#" as prefix, QBIN from Qbin, CHKT "1" +
// CrcOrdinal, no repeat counts, attributes. Qbin is "Y" (prefix bytes with the eighth bit
// set if the peer asks), "N" (never) or a prefix character (asks for it); anything else,
// the control prefix "#" included, proposes "Y".
TInitParams OwnProposal(std::int64_t timeoutMs, int crcOrdinal, std::uint8_t qbin);

// Reads the block of a received S or of the Y that answers one. Fields the peer left out,
// and MAXL, QCTL or CHKT values this engine cannot use, take Kermit's defaults (MAXL 80,
// "#", block check type 1); a MAXL above 94 counts as 94; a QBIN that is none of "Y", "N"
// or a prefix character, or that equals the block's QCTL, reads as "N".
TInitParams ReadInitParams(const std::uint8_t* data, std::size_t len);

// The receiver's answer to a sender's block (as ReadInitParams gives it): the sender's
// values, with repeat counts refused and of CAPAS only the attribute capability (no long
// packets, windows, locking shifts or resend). QBIN: the sender's prefix character when it
// proposed one; OwnQbin (this side's choice, as for OwnProposal) when the sender said "Y"
// and OwnQbin is a prefix character other than the sender's QCTL; else the sender's value.
TInitParams AnswerSendInit(const TInitParams& sender, std::uint8_t ownQbin);

// The eighth-bit prefix in force after an exchange of Send-Init blocks, from the QBIN this
// side sent and the one it received: a prefix character on one side and "Y" or the same
// character on the other gives that character; anything else gives 0 (none).
constexpr std::uint8_t AgreedQbin(std::uint8_t sent, std::uint8_t received) {
  if (IsPrefixChar(sent) && (received == 'Y' || received == sent)) return sent;
  if (IsPrefixChar(received) && sent == 'Y') return received;
  return 0;
}

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
