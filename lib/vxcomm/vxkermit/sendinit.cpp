#include "vxcomm/vxkermit/sendinit.h"

#include <algorithm>

#include "vxcomm/vxkermit/packet.h"

namespace vxcomm {

namespace vxkermit {

namespace {

// Kermit's defaults for a block that stops early.
constexpr TInitParams kDefaults = {ToChar(80), ToChar(5), ToChar(0), 64,  ToChar(13),
                                   '#',        'N',       '1',       ' ', ToChar(0)};

}  // namespace

TInitParams OwnProposal(std::int64_t timeoutMs, int crcOrdinal, std::uint8_t qbin,
                        std::uint8_t rept) {
  std::int64_t t = timeoutMs / 1000;
  if (t < 1) t = 5;
  if (t > 60) t = 60;
  if (qbin != 'N' && (!IsPrefixChar(qbin) || qbin == '#')) qbin = 'Y';
  if (!IsPrefixChar(rept) || rept == '#' || rept == qbin) rept = ' ';
  return {ToChar(94), ToChar(static_cast<unsigned>(t)),
          ' ',        64,
          ToChar(13), '#',
          qbin,       crcOrdinal == 3 ? kChktForced3 : static_cast<std::uint8_t>('1' + crcOrdinal),
          rept,       ToChar(kCapasAttributes)};
}

TInitParams ReadInitParams(const std::uint8_t* data, std::size_t len) {
  TInitParams p = kDefaults;
  for (std::size_t i = 0; i < kInitFieldCount && i < len; ++i) p[i] = data[i];
  // Every field is a printable character: one that is not would go back bare in the answer.
  for (const std::size_t i : {ipTime, ipNpad, ipPadc, ipEol})
    if (p[i] < 32 || p[i] > 126) p[i] = kDefaults[i];
  // A MAXL this short leaves no room for a prefixed byte; a blank one means the default.
  if (UnChar(p[ipMaxl]) < 10) p[ipMaxl] = kDefaults[ipMaxl];
  if (UnChar(p[ipMaxl]) > 94) p[ipMaxl] = ToChar(94);
  if (!IsPrefixChar(p[ipQctl])) p[ipQctl] = kDefaults[ipQctl];
  if ((p[ipChkt] < '1' || p[ipChkt] > '3') && p[ipChkt] != kChktForced3) p[ipChkt] = '1';
  // A prefix that is also the control prefix could not be told apart from it.
  const std::uint8_t qbin = p[ipQbin];
  if (qbin != 'Y' && (!IsPrefixChar(qbin) || qbin == p[ipQctl])) p[ipQbin] = 'N';
  return p;
}

TInitParams AnswerSendInit(const TInitParams& sender, std::uint8_t ownQbin, bool repeatCounts) {
  TInitParams p = sender;
  if (p[ipQbin] == 'Y' && IsPrefixChar(ownQbin) && ownQbin != p[ipQctl]) p[ipQbin] = ownQbin;
  const std::uint8_t rept = sender[ipRept];
  const bool repeats = repeatCounts && IsPrefixChar(rept) && rept != p[ipQctl] && rept != p[ipQbin];
  p[ipRept] = repeats ? rept : ' ';
  p[ipCapas] = ToChar(OffersCapability(sender, kCapasAttributes) ? kCapasAttributes : 0);
  return p;
}

TInitBlock MakeInitBlock(const TInitParams& params, std::size_t longPacket, std::uint8_t whatami,
                         int window, bool describe) {
  if (describe) whatami |= kWhatamiValid;
  TInitBlock block;
  std::copy(params.begin(), params.end(), block.bytes.begin());
  block.size = params.size();
  window = std::clamp(window, 1, 31);
  if (longPacket == 0 && whatami == 0 && window == 1) return block;
  longPacket = std::min(longPacket, kMaxLongPacketLength);
  const int capas = UnChar(params[ipCapas]);
  // The classic block's CAPAS has no continuation: WINDO follows it directly.
  unsigned bits = capas > 0 && capas <= 94 ? static_cast<unsigned>(capas) & ~1u : 0u;
  if (longPacket > 0) bits |= kCapasLongPackets;
  if (window > 1) bits |= kCapasWindows;
  block.bytes[ipCapas] = ToChar(bits);
  block.bytes[block.size++] = ToChar(static_cast<unsigned>(window));
  if (longPacket == 0 && whatami == 0) return block;
  block.bytes[block.size++] = ToChar(static_cast<unsigned>(longPacket / 95));
  block.bytes[block.size++] = ToChar(static_cast<unsigned>(longPacket % 95));
  if (whatami == 0) return block;
  // No checkpointing: CHKPNT "0" and CHKINT "___", as Kermit fills them when unused.
  block.bytes[block.size++] = '0';
  for (int i = 0; i < 3; ++i) block.bytes[block.size++] = '_';
  block.bytes[block.size++] = ToChar(whatami & 63u);
  if (!describe) return block;
  const std::size_t idLength = sizeof kUnixSystemId - 1;
  block.bytes[block.size++] = ToChar(static_cast<unsigned>(idLength));
  for (std::size_t i = 0; i < idLength; ++i)
    block.bytes[block.size++] = static_cast<std::uint8_t>(kUnixSystemId[i]);
  return block;
}

int ReadWindow(const std::uint8_t* data, std::size_t len) {
  if (len <= ipCapas) return 1;
  const int first = UnChar(data[ipCapas]);
  if (first < 0 || first > 94 || !(first & kCapasWindows)) return 1;
  std::size_t i = ipCapas;
  while (i < len) {
    const int c = UnChar(data[i]);
    if (c < 0 || c > 94 || !(c & kCapasMore)) break;
    ++i;
  }
  const std::size_t at = i + 1;
  if (at >= len) return 1;
  const int w = UnChar(data[at]);
  return w >= 1 && w <= 31 ? w : 1;
}

namespace {

// Where WHATAMI lies in a block of Len bytes: after the last CAPAS byte; Len when the block
// has no CAPAS.
std::size_t WhatamiPosition(const std::uint8_t* data, std::size_t len) {
  if (len <= ipCapas) return len;
  std::size_t i = ipCapas;
  while (i < len) {
    const int c = UnChar(data[i]);
    if (c < 0 || c > 94 || !(c & kCapasMore)) break;
    ++i;
  }
  return i + kWhatamiOffset;
}

}  // namespace

std::string ReadSystemId(const std::uint8_t* data, std::size_t len) {
  const std::size_t at = WhatamiPosition(data, len) + 1;
  if (at >= len) return {};
  const int n = UnChar(data[at]);
  if (n < 1 || n > 15 || static_cast<std::size_t>(n) > len - at - 1) return {};
  return std::string(reinterpret_cast<const char*>(data + at + 1), static_cast<std::size_t>(n));
}

std::uint8_t ReadWhatami(const std::uint8_t* data, std::size_t len) {
  const std::size_t at = WhatamiPosition(data, len);
  if (at >= len) return 0;
  const int w = UnChar(data[at]);
  if (w < 0 || w > 63 || !(w & kWhatamiValid)) return 0;
  return static_cast<std::uint8_t>(w);
}

std::size_t ReadLongPacketLength(const std::uint8_t* data, std::size_t len) {
  if (len <= ipCapas) return 0;
  const int first = UnChar(data[ipCapas]);
  if (first < 0 || first > 94 || !(first & kCapasLongPackets)) return 0;
  std::size_t i = ipCapas;
  while (i < len) {
    const int c = UnChar(data[i]);
    if (c < 0 || c > 94 || !(c & kCapasMore)) break;
    ++i;
  }
  // WINDO, MAXLX1, MAXLX2 follow the last CAPAS byte.
  const std::size_t x1 = i + 2, x2 = i + 3;
  if (x2 >= len) return kDefaultLongPacketLength;
  const int h = UnChar(data[x1]), l = UnChar(data[x2]);
  if (h < 0 || h > 94 || l < 0 || l > 94) return kDefaultLongPacketLength;
  const std::size_t v = static_cast<std::size_t>(h) * 95 + static_cast<std::size_t>(l);
  return v == 0 ? kDefaultLongPacketLength : std::min(v, kMaxLongPacketLength);
}

}  // namespace vxkermit

}  // namespace vxcomm
