#include "vxkermit/sendinit.h"

#include "vxkermit/packet.h"

namespace vxkermit {

namespace {

// Kermit's defaults for a block that stops early.
constexpr TInitParams kDefaults = {ToChar(80), ToChar(5), ToChar(0), 64,  ToChar(13),
                                   '#',        'N',       '1',       ' ', ToChar(0)};

constexpr bool IsPrefixChar(std::uint8_t c) {
  return (c >= 33 && c <= 62) || (c >= 96 && c <= 126);
}

}  // namespace

TInitParams OwnProposal(std::int64_t timeoutMs, int crcOrdinal) {
  std::int64_t t = timeoutMs / 1000;
  if (t < 1) t = 5;
  if (t > 60) t = 60;
  return {ToChar(94), ToChar(static_cast<unsigned>(t)),
          ' ',        64,
          ToChar(13), '#',
          'Y',        static_cast<std::uint8_t>('1' + crcOrdinal),
          ' ',        ToChar(kCapasAttributes)};
}

TInitParams ReadInitParams(const std::uint8_t* data, std::size_t len) {
  TInitParams p = kDefaults;
  for (std::size_t i = 0; i < kInitFieldCount && i < len; ++i) p[i] = data[i];
  // A MAXL this short leaves no room for a prefixed byte; a blank one means the default.
  if (UnChar(p[ipMaxl]) < 10) p[ipMaxl] = kDefaults[ipMaxl];
  if (UnChar(p[ipMaxl]) > 94) p[ipMaxl] = ToChar(94);
  if (!IsPrefixChar(p[ipQctl])) p[ipQctl] = kDefaults[ipQctl];
  if (p[ipChkt] < '1' || p[ipChkt] > '3') p[ipChkt] = '1';
  return p;
}

TInitParams AnswerSendInit(const TInitParams& sender) {
  TInitParams p = sender;
  p[ipRept] = ' ';
  if (IsPrefixChar(p[ipQbin])) p[ipQbin] = 'N';
  const int capas = UnChar(p[ipCapas]);
  p[ipCapas] = ToChar(capas > 0 ? static_cast<unsigned>(capas) & kCapasAttributes : 0);
  return p;
}

}  // namespace vxkermit
