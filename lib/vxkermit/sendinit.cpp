#include "vxkermit/sendinit.h"

#include "vxkermit/packet.h"

namespace vxkermit {

namespace {

// Kermit's defaults for a block that stops early.
constexpr TInitParams kDefaults = {ToChar(80), ToChar(5), ToChar(0), 64,  ToChar(13),
                                   '#',        'N',       '1',       ' ', ToChar(0)};

}  // namespace

TInitParams OwnProposal(std::int64_t timeoutMs, int crcOrdinal, std::uint8_t qbin) {
  std::int64_t t = timeoutMs / 1000;
  if (t < 1) t = 5;
  if (t > 60) t = 60;
  if (qbin != 'N' && (!IsPrefixChar(qbin) || qbin == '#')) qbin = 'Y';
  return {ToChar(94), ToChar(static_cast<unsigned>(t)),
          ' ',        64,
          ToChar(13), '#',
          qbin,       static_cast<std::uint8_t>('1' + crcOrdinal),
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
  // A prefix that is also the control prefix could not be told apart from it.
  const std::uint8_t qbin = p[ipQbin];
  if (qbin != 'Y' && (!IsPrefixChar(qbin) || qbin == p[ipQctl])) p[ipQbin] = 'N';
  return p;
}

TInitParams AnswerSendInit(const TInitParams& sender, std::uint8_t ownQbin) {
  TInitParams p = sender;
  p[ipRept] = ' ';
  if (p[ipQbin] == 'Y' && IsPrefixChar(ownQbin) && ownQbin != p[ipQctl]) p[ipQbin] = ownQbin;
  const int capas = UnChar(p[ipCapas]);
  p[ipCapas] = ToChar(capas > 0 ? static_cast<unsigned>(capas) & kCapasAttributes : 0);
  return p;
}

}  // namespace vxkermit
