/// @file
/// The Send-Init parameter block: this side's proposal, the reading of a peer's block with
/// Kermit's defaults for what it leaves out, and the receiver's answer, which promises
/// nothing this engine does not do. Past the ten classic fields a block may carry further
/// CAPAS bytes, then WINDO, MAXLX1 and MAXLX2: TInitBlock is the block as it is sent.
///
/// Thread: any; nothing here keeps state. Readers of received bytes read no more than the
/// length given.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vxcomm {

namespace vxkermit {

/// The number of classic fields in a Send-Init block.
inline constexpr std::size_t kInitFieldCount = 10;
/// The ten classic fields of a Send-Init block, as they are sent, indexed by TInitField.
using TInitParams = std::array<std::uint8_t, kInitFieldCount>;

/// Field positions in the block.
enum TInitField : std::size_t {
  ipMaxl = 0,  ///< MAXL: the longest packet the sender of the block takes
  ipTime,      ///< TIME: the time-out, in seconds, the sender of the block wants
  ipNpad,      ///< NPAD: the number of padding characters
  ipPadc,      ///< PADC: the padding character
  ipEol,       ///< EOL: the end of line the sender of the block wants
  ipQctl,      ///< QCTL: the control prefix
  ipQbin,      ///< QBIN: the eighth-bit prefix
  ipChkt,      ///< CHKT: the block check type
  ipRept,      ///< REPT: the repeat prefix
  ipCapas,     ///< CAPAS: the first capability byte
};

/// CAPAS bit: another CAPAS byte follows.
inline constexpr std::uint8_t kCapasMore = 1;
/// CAPAS bit: can take long packets.
inline constexpr std::uint8_t kCapasLongPackets = 2;
/// CAPAS bit: can use sliding windows (WINDO gives the size).
inline constexpr std::uint8_t kCapasWindows = 4;
/// CAPAS bit: can accept A packets.
inline constexpr std::uint8_t kCapasAttributes = 8;
/// CAPAS bit: can recover an interrupted transfer (RESEND).
inline constexpr std::uint8_t kCapasResend = 16;

/// WHATAMI bit: the field carries information (a block without it says nothing).
inline constexpr std::uint8_t kWhatamiValid = 32;
/// WHATAMI bit: the sender of the block declares the link reliable and can stream.
inline constexpr std::uint8_t kWhatamiStreaming = 8;
/// WHATAMI bit: the sender of the block transfers files in binary mode.
inline constexpr std::uint8_t kWhatamiBinary = 2;
/// WHATAMI bit: the sender of the block takes and sends file names literally.
inline constexpr std::uint8_t kWhatamiLiteralNames = 4;
/// The system ID of a Unix system, as Kermit programs announce it after WHATAMI: a peer that
/// reads it from the other side knows it talks to a like system, and sends files in binary
/// with their names as they are.
inline constexpr char kUnixSystemId[] = "U1";
/// Where WHATAMI lies after the last CAPAS byte: WINDO, MAXLX1, MAXLX2, CHKPNT and the three
/// bytes of CHKINT come between.
inline constexpr std::size_t kWhatamiOffset = 8;

/// The longest long packet (its extended length) a block may offer.
inline constexpr std::size_t kMaxLongPacketLength = 9024;
/// What a block that offers long packets without MAXLX1/MAXLX2 means.
inline constexpr std::size_t kDefaultLongPacketLength = 500;
/// The repeat prefix Kermit programs propose.
inline constexpr std::uint8_t kDefaultRepeatPrefix = '~';

/// A Send-Init block as it goes on the wire: the ten fields and, when long packets or
/// WHATAMI are sent, WINDO (one packet), MAXLX1 and MAXLX2; with WHATAMI, CHKPNT and CHKINT
/// (no checkpointing) and WHATAMI follow.
struct TInitBlock {
  // The ten fields, WINDO, MAXLX1 and MAXLX2, CHKPNT, CHKINT and WHATAMI, and the system
  // ID's length character and its characters.
  std::array<std::uint8_t, kInitFieldCount + 3 + 5 + 1 + sizeof kUnixSystemId - 1>
      bytes{};           ///< the block; only the first size bytes count
  std::size_t size = 0;  ///< the bytes in use
  /// The first byte of the block.
  const std::uint8_t* data() const { return bytes.data(); }
};

/// True for the characters that can serve as a prefix: 33..62 and 96..126.
constexpr bool IsPrefixChar(std::uint8_t c) {
  return (c >= 33 && c <= 62) || (c >= 96 && c <= 126);
}

/// This side's proposal.
///
/// MAXL 94, TIME from TimeoutMs (whole seconds, below 1 gives 5, above 60 gives 60), no
/// padding, CR as EOL, "#" as prefix, QBIN from Qbin, CHKT "1" + CrcOrdinal (CrcOrdinal 3:
/// force-3, "5"), no repeat
/// counts, attributes. Qbin is "Y" (prefix bytes with the eighth bit set if the peer asks),
/// "N" (never) or a prefix character (asks for it); anything else, the control prefix "#"
/// included, proposes "Y". Rept, when it is a prefix character other than "#" and Qbin, is
/// proposed as the repeat prefix; anything else (0 by default) proposes none.
VXCOMM_EXPORT TInitParams OwnProposal(std::int64_t timeoutMs, int crcOrdinal, std::uint8_t qbin,
                                      std::uint8_t rept = 0);

/// Reads the block of a received S or of the Y that answers one (Len bytes of Data).
///
/// Fields the peer left out, and MAXL, QCTL or CHKT values this engine cannot use, take
/// Kermit's defaults (MAXL 80, "#", block check type 1; force-3, "5", is kept), as do a TIME,
/// NPAD, PADC or EOL that is no printable character; a MAXL above 94 counts as 94; a QBIN
/// that is none of "Y", "N" or a prefix character, or that equals the block's QCTL, reads as
/// "N".
VXCOMM_EXPORT TInitParams ReadInitParams(const std::uint8_t* data, std::size_t len);

/// The receiver's answer to a sender's block (as ReadInitParams gives it).
///
/// The sender's values, with repeat counts refused and of CAPAS only the attribute capability
/// (no long packets, windows, locking shifts or resend). QBIN: the sender's prefix character
/// when it proposed one; OwnQbin (this side's choice, as for OwnProposal) when the sender said
/// "Y" and OwnQbin is a prefix character other than the sender's QCTL; else the sender's
/// value. With RepeatCounts, the sender's REPT is answered when it is a prefix character that
/// differs from the block's QCTL and from the QBIN answered; otherwise none (" ").
VXCOMM_EXPORT TInitParams AnswerSendInit(const TInitParams& sender, std::uint8_t ownQbin,
                                         bool repeatCounts = false);

/// The block of Params as sent.
///
/// With LongPacket (an extended length, 0 for none) the CAPAS long-packet bit is set and
/// WINDO, MAXLX1 and MAXLX2 follow. LongPacket is cut to kMaxLongPacketLength. With Whatami
/// (bits of kWhatamiValid and kWhatamiStreaming; 0 for none) the block goes on through
/// WHATAMI, with MAXLX1 and MAXLX2 blank when no long packets are offered. With Window above
/// 1 (cut to 31) the CAPAS window bit is set and WINDO offers it; the block ends after WINDO
/// when nothing follows it. With neither, the block is the one of the first two arguments
/// alone. With Describe the block goes on through WHATAMI (kWhatamiValid is set in it) and
/// the system ID kUnixSystemId follows.
VXCOMM_EXPORT TInitBlock MakeInitBlock(const TInitParams& params, std::size_t longPacket,
                                       std::uint8_t whatami = 0, int window = 1,
                                       bool describe = false);

/// The window a received block (Len bytes of Data) offers: its WINDO (1..31) when its CAPAS
/// carries the window bit; 1 (no window) when it does not, when the block stops before WINDO,
/// or when WINDO is outside tochar(1..31).
VXCOMM_EXPORT int ReadWindow(const std::uint8_t* data, std::size_t len);

/// The longest long packet a received block (Len bytes of Data) offers; 0 for none.
///
/// Its MAXLX1/MAXLX2 (kDefaultLongPacketLength when they are missing or zero, at most
/// kMaxLongPacketLength), or 0 when its CAPAS does not offer long packets. Further CAPAS bytes
/// are skipped as their continuation bits say; a CAPAS byte outside tochar(0..94) offers
/// nothing.
VXCOMM_EXPORT std::size_t ReadLongPacketLength(const std::uint8_t* data, std::size_t len);

/// The WHATAMI bits a received block (Len bytes of Data) carries: 0 when the block stops
/// before WHATAMI, when the byte is outside tochar(0..63), or when it lacks kWhatamiValid.
VXCOMM_EXPORT std::uint8_t ReadWhatami(const std::uint8_t* data, std::size_t len);

/// Whether the peer whose block this is (Len bytes of Data) takes control characters bare in
/// a data field: a block that offers sliding windows or carries WHATAMI comes from a full
/// Kermit program, which takes a data field by its length. A bootloader's receiver offers
/// neither (long packets at most) and acts on control characters it meets: it gets every one
/// prefixed.
inline bool TakesBareControls(const std::uint8_t* data, std::size_t len) {
  return ReadWindow(data, len) > 1 || ReadWhatami(data, len) != 0;
}

/// The system ID a received block (Len bytes of Data) carries after WHATAMI; empty when the
/// block stops before it or its length character is outside tochar(1..15) or runs past the
/// block.
VXCOMM_EXPORT std::string ReadSystemId(const std::uint8_t* data, std::size_t len);

/// The repeat prefix in force after an exchange: the same prefix character on both sides,
/// different from the control prefix Qctl and the eighth-bit prefix in force Qbin; else 0.
constexpr std::uint8_t AgreedRept(std::uint8_t sent, std::uint8_t received, std::uint8_t qctl,
                                  std::uint8_t qbin) {
  return IsPrefixChar(sent) && sent == received && sent != qctl && sent != qbin ? sent : 0;
}

/// The eighth-bit prefix in force after an exchange of Send-Init blocks.
///
/// From the QBIN this side sent and the one it received: a prefix character on one side and
/// "Y" or the same character on the other gives that character; anything else gives 0 (none).
constexpr std::uint8_t AgreedQbin(std::uint8_t sent, std::uint8_t received) {
  if (IsPrefixChar(sent) && (received == 'Y' || received == sent)) return sent;
  if (IsPrefixChar(received) && sent == 'Y') return received;
  return 0;
}

/// The CHKT that asks for the type 3 check on every packet, the Send-Init and its answer
/// included ("force-3").
inline constexpr std::uint8_t kChktForced3 = '5';
/// The check index (0..2) that a block's CHKT names; force-3 is the type 3 check.
inline int CheckIndexOf(const TInitParams& p) {
  return p[ipChkt] == kChktForced3 ? 2 : p[ipChkt] - '1';
}
/// The check index of a Send-Init, and of its answer, under a block's CHKT: the type 1
/// check, or the type 3 check with force-3.
inline int InitCheckIndexOf(const TInitParams& p) {
  return p[ipChkt] == kChktForced3 ? 2 : 0;
}
/// True when a block's first CAPAS byte offers Bit (a byte outside tochar(0..94) offers nothing).
inline bool OffersCapability(const TInitParams& p, std::uint8_t bit) {
  const int capas = p[ipCapas] - 32;
  return capas >= 0 && capas <= 94 && (capas & bit) != 0;
}
/// The control prefix character (QCTL).
inline std::uint8_t QctlOf(const TInitParams& p) {
  return p[ipQctl];
}
/// The longest data field a packet may carry under the block's MAXL with CheckIndex.
inline std::size_t MaxDataField(const TInitParams& p, int checkIndex) {
  return static_cast<std::size_t>(p[ipMaxl] - 32 - (checkIndex + 1) - 2);
}

}  // namespace vxkermit

}  // namespace vxcomm
