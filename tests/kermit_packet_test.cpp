// The Kermit packet layer on its own: block checks, framing, data encoding, the Send-Init
// block and attributes, against the worked examples of the protocol's documentation.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit/attributes.h"
#include "vxcomm/vxkermit/encoding.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

using namespace vxkermit;

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<std::uint8_t> v;
  for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
  return v;
}

std::vector<std::uint8_t> Frame(char type, unsigned seq, const std::string& data, int checkIndex) {
  std::array<std::uint8_t, kPacketImageSize> buf{};
  std::size_t n =
      FramePacket(buf.data(), static_cast<std::uint8_t>(type), seq,
                  reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), checkIndex);
  return {buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::array<std::uint8_t, kPacketImageSize> Image(const std::vector<std::uint8_t>& bytes) {
  std::array<std::uint8_t, kPacketImageSize> img{};
  std::copy(bytes.begin(), bytes.end(), img.begin());
  return img;
}

}  // namespace

TEST(KermitBlockCheck, Crc16OfTheCheckString) {
  const std::string s = "123456789";
  EXPECT_EQ(BlockCheck(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), 2), 0x2189);
  EXPECT_EQ(BlockCheck(nullptr, 0, 2), 0);
}

TEST(KermitBlockCheck, Type1FoldsTheTopBitsAndType2KeepsTwelve) {
  const std::vector<std::uint8_t> b = Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF});  // s = 1275 = 0x4FB
  EXPECT_EQ(BlockCheck(b.data(), b.size(), 0), (0x4FB + ((0x4FB & 0xC0) >> 6)) & 0x3F);
  EXPECT_EQ(BlockCheck(b.data(), b.size(), 1), 0x4FB);
}

TEST(KermitPacket, WorkedExamplesComeOutByteForByte) {
  const TInitParams init = OwnProposal(5000, 2, 'Y');
  EXPECT_EQ(Frame('S', 0, std::string(init.begin(), init.end()), 0),
            Bytes({0x01, 0x2D, 0x20, 0x53, 0x7E, 0x25, 0x20, 0x40, 0x2D, 0x23, 0x59, 0x33, 0x20,
                   0x28, 0x2A, 0x0D}));
  EXPECT_EQ(Frame('D', 3, "Hello#J", 0),
            Bytes({0x01, 0x2A, 0x23, 0x44, 0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x23, 0x4A, 0x55, 0x0D}));
  EXPECT_EQ(Frame('D', 3, "Hello#J", 1), Bytes({0x01, 0x2B, 0x23, 0x44, 0x48, 0x65, 0x6C, 0x6C,
                                                0x6F, 0x23, 0x4A, 0x2B, 0x53, 0x0D}));
  EXPECT_EQ(Frame('D', 3, "Hello#J", 2), Bytes({0x01, 0x2C, 0x23, 0x44, 0x48, 0x65, 0x6C, 0x6C,
                                                0x6F, 0x23, 0x4A, 0x2D, 0x58, 0x31, 0x0D}));
  EXPECT_EQ(BuildAttributes(5000), "!!5");
  EXPECT_EQ(Frame('A', 2, BuildAttributes(5000), 2),
            Bytes({0x01, 0x28, 0x22, 0x41, 0x21, 0x21, 0x35, 0x2D, 0x54, 0x2F, 0x0D}));
}

TEST(KermitPacket, SequenceWrapsAfter64Packets) {
  EXPECT_EQ(Frame('Y', 64, "", 0)[kSeqPos], ' ');
  EXPECT_EQ(Frame('Y', 63, "", 0)[kSeqPos], ToChar(63));
}

TEST(KermitPacket, VerifyAcceptsOwnPacketsAndRejectsDamage) {
  for (int k = 0; k < 3; ++k) {
    auto img = Image(Frame('D', 5, "some data ~ here", k));
    EXPECT_TRUE(VerifyBlockCheck(img.data(), k)) << k;
    EXPECT_FALSE(VerifyBlockCheck(img.data(), (k + 1) % 3)) << k;
    for (std::size_t pos = kSeqPos; pos < kDataPos + 16; ++pos) {
      auto bad = img;
      bad[pos] ^= 0x01;
      EXPECT_FALSE(VerifyBlockCheck(bad.data(), k)) << k << " " << pos;
    }
  }
}

TEST(KermitPacket, VerifyRejectsLengthsBelowTheMinimumWithoutReadingOutside) {
  for (int k = 0; k < 3; ++k) {
    for (int len = 0; len < MinPacketLen(k); ++len) {
      std::array<std::uint8_t, kPacketImageSize> img{};
      img[0] = kMark;
      img[kLenPos] = ToChar(static_cast<unsigned>(len));
      EXPECT_FALSE(VerifyBlockCheck(img.data(), k)) << k << " " << len;
    }
    std::array<std::uint8_t, kPacketImageSize> low{};
    low[kLenPos] = 5;  // a control character as LEN
    EXPECT_FALSE(VerifyBlockCheck(low.data(), k));
  }
  // The largest LEN a byte can carry stays inside the image and can verify.
  std::string data(MaxImageData(2), 'x');
  auto img = Image(Frame('D', 1, data, 2));
  EXPECT_EQ(img[kLenPos], 255);
  EXPECT_TRUE(VerifyBlockCheck(img.data(), 2));
}

TEST(KermitPacket, LongerThan94IsFramedAndVerified) {
  // A peer with type 3 checks sends 90-character data fields: LEN 95, byte 0x7F.
  auto img = Image(Frame('D', 7, std::string(90, 'a'), 2));
  EXPECT_EQ(img[kLenPos], 0x7F);
  EXPECT_TRUE(VerifyBlockCheck(img.data(), 2));
}

TEST(KermitEncoding, PrefixesControlsDelAnd255) {
  const std::uint8_t q = '#';
  const std::vector<std::pair<int, int>> prefixed = {{0x00, 0x40}, {0x0D, 0x4D}, {0x1F, 0x5F},
                                                     {0x23, 0x23}, {0x7F, 0x3F}, {0xFF, 0xBF}};
  for (auto [b, second] : prefixed) {
    std::uint8_t out[2] = {};
    ASSERT_EQ(EncodeByte(static_cast<std::uint8_t>(b), q, 0, out), 2u) << b;
    EXPECT_EQ(out[0], q);
    EXPECT_EQ(out[1], second) << b;
    std::uint8_t back = 0;
    EXPECT_EQ(DecodeField(out, 2, q, 0, &back), 1);
    EXPECT_EQ(back, b);
  }
  for (int b : {0x80, 0xA3, 0x41, 0x20, 0x7E}) {
    std::uint8_t out[2] = {};
    EXPECT_EQ(EncodeByte(static_cast<std::uint8_t>(b), q, 0, out), 1u) << b;
    EXPECT_EQ(out[0], b);
  }
}

TEST(KermitEncoding, EveryByteValueRoundTrips) {
  for (std::uint8_t q : {std::uint8_t('#'), std::uint8_t('&')}) {
    std::vector<std::uint8_t> field(512);
    std::size_t n = 0;
    for (int b = 0; b < 256; ++b)
      n += EncodeByte(static_cast<std::uint8_t>(b), q, 0, field.data() + n);
    std::vector<std::uint8_t> back(n);
    ASSERT_EQ(DecodeField(field.data(), n, q, 0, back.data()), 256);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(back[static_cast<std::size_t>(b)], b);
  }
}

TEST(KermitEncoding, DecodingTakesQuotedHighLiterallyAndRefusesALonePrefix) {
  const std::vector<std::uint8_t> f = Bytes({'&', 163, 'a', '&'});
  std::uint8_t out[4];
  EXPECT_EQ(DecodeField(f.data(), 2, '&', 0, out), 1);
  EXPECT_EQ(out[0], 163);
  EXPECT_EQ(DecodeField(f.data(), f.size(), '&', 0, out), -1);
  const std::vector<std::uint8_t> c1 = Bytes({'#', 0xC1, '#', 0xBF});  // 8-bit controls from a peer
  EXPECT_EQ(DecodeField(c1.data(), c1.size(), '#', 0, out), 2);
  EXPECT_EQ(out[0], 0x81);
  EXPECT_EQ(out[1], 0xFF);
}

std::string Encoded(int b, std::uint8_t qctl, std::uint8_t qbin) {
  std::uint8_t out[kMaxEncodedByte] = {};
  const std::size_t n = EncodeByte(static_cast<std::uint8_t>(b), qctl, qbin, out);
  return std::string(reinterpret_cast<const char*>(out), n);
}

TEST(KermitEncoding, EighthBitPrefixTable) {
  struct Case {
    int b;
    std::string with;     // qctl '#', qbin '&'
    std::string without;  // qctl '#', no qbin: as before eighth-bit prefixing
  };
  const std::vector<Case> cases = {
      {'A', "A", "A"},       {' ', " ", " "},       {'~', "~", "~"},       {0x00, "#@", "#@"},
      {0x0D, "#M", "#M"},    {0x1F, "#_", "#_"},    {0x7F, "#?", "#?"},    {'#', "##", "##"},
      {'&', "#&", "&"},      {0xC1, "&A", "\xC1"},  {0xE9, "&i", "\xE9"},  {0xA0, "& ", "\xA0"},
      {0x80, "&#@", "\x80"}, {0x8D, "&#M", "\x8D"}, {0x9F, "&#_", "\x9F"}, {0xFF, "&#?", "#\xBF"},
      {0xA3, "&##", "\xA3"}, {0xA6, "&#&", "\xA6"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Encoded(c.b, '#', '&'), c.with) << c.b;
    EXPECT_EQ(EncodedLength(static_cast<std::uint8_t>(c.b), '#', '&'), c.with.size()) << c.b;
    EXPECT_EQ(Encoded(c.b, '#', 0), c.without) << c.b;
    EXPECT_EQ(EncodedLength(static_cast<std::uint8_t>(c.b), '#', 0), c.without.size()) << c.b;
  }
}

TEST(KermitEncoding, EveryByteRoundTripsSevenBitWithAnEighthBitPrefix) {
  const std::vector<std::pair<std::uint8_t, std::uint8_t>> prefixes = {
      {'#', '&'}, {'#', '`'}, {'!', '~'}, {'&', '#'}};
  for (auto [qctl, qbin] : prefixes) {
    std::vector<std::uint8_t> field(256 * kMaxEncodedByte);
    std::size_t n = 0;
    for (int b = 0; b < 256; ++b) {
      const auto byte = static_cast<std::uint8_t>(b);
      const std::size_t len = EncodeByte(byte, qctl, qbin, field.data() + n);
      EXPECT_EQ(len, EncodedLength(byte, qctl, qbin)) << b;
      EXPECT_GE(len, 1u);
      EXPECT_LE(len, kMaxEncodedByte);
      // Each byte on its own decodes back to itself.
      std::uint8_t one = 0;
      EXPECT_EQ(DecodeField(field.data() + n, len, qctl, qbin, &one), 1) << b;
      EXPECT_EQ(one, byte) << b;
      n += len;
    }
    for (std::size_t i = 0; i < n; ++i) ASSERT_LT(field[i], 0x80) << qbin << " at " << i;
    std::vector<std::uint8_t> back(n);
    ASSERT_EQ(DecodeField(field.data(), n, qctl, qbin, back.data()), 256) << qbin;
    for (int b = 0; b < 256; ++b) EXPECT_EQ(back[static_cast<std::size_t>(b)], b) << qbin;
  }
}

TEST(KermitEncoding, EighthBitDecodingOfWhatPeersSend) {
  struct Case {
    std::vector<std::uint8_t> field;
    std::vector<std::uint8_t> bytes;  // empty: refused
  };
  const std::vector<Case> cases = {
      {Bytes({'&', 'A'}), Bytes({0xC1})},
      {Bytes({'&', '#', 'M'}), Bytes({0x8D})},
      {Bytes({'&', '#', '#'}), Bytes({0xA3})},
      {Bytes({'&', '#', '&'}), Bytes({0xA6})},
      {Bytes({'#', '&'}), Bytes({'&'})},
      // The prefixes quoted with the top bit set are taken as they are, and so is 163.
      {Bytes({'#', 0xA3}), Bytes({0xA3})},
      {Bytes({'#', 0xA6}), Bytes({0xA6})},
      {Bytes({'&', '#', 0xA6}), Bytes({0xA6})},
      // 8-bit controls quoted by a peer, and bytes that arrive with the top bit set.
      {Bytes({'#', 0xC1}), Bytes({0x81})},
      {Bytes({'&', '#', 0xC1}), Bytes({0x81})},
      {Bytes({0xE9, 'x'}), Bytes({0xE9, 'x'})},
      {Bytes({'&', '&'}), Bytes({0xA6})},
      {Bytes({'a', '&'}), {}},
      {Bytes({'a', '&', '#'}), {}},
      {Bytes({'a', '#'}), {}},
      {Bytes({'&'}), {}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> out(c.field.size() + 1, 0x55);
    const std::ptrdiff_t n = DecodeField(c.field.data(), c.field.size(), '#', '&', out.data());
    if (c.bytes.empty()) {
      EXPECT_EQ(n, -1);
    } else {
      ASSERT_EQ(n, static_cast<std::ptrdiff_t>(c.bytes.size()));
      EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + n), c.bytes);
    }
    EXPECT_EQ(out.back(), 0x55) << "written past the field's length";
  }
  // Without a QBIN in force "&" is an ordinary character and a quoted character is taken
  // as it is only when it is the prefix itself or 163.
  const std::vector<std::uint8_t> plain = Bytes({'&', 'A', '&', 0xA6});
  std::uint8_t out[4];
  ASSERT_EQ(DecodeField(plain.data(), 2, '#', 0, out), 2);
  EXPECT_EQ(out[0], '&');
  ASSERT_EQ(DecodeField(plain.data() + 2, 2, '&', 0, out), 1);
  EXPECT_EQ(out[0], 0xA6 ^ 64);
}

TEST(KermitEncoding, AnyShortFieldDecodesWithinItsLength) {
  // Every field of up to three characters from the ones that matter to the decoder.
  const std::vector<std::uint8_t> alphabet = Bytes({'#', '&', 0xA3, 0xA6, 'A', 0x00, 0xC1, 0xFF});
  for (std::uint8_t qbin : {std::uint8_t(0), std::uint8_t('&')}) {
    for (std::size_t len = 0; len <= 3; ++len) {
      std::size_t combos = 1;
      for (std::size_t i = 0; i < len; ++i) combos *= alphabet.size();
      for (std::size_t k = 0; k < combos; ++k) {
        std::vector<std::uint8_t> field;
        for (std::size_t i = 0, r = k; i < len; ++i, r /= alphabet.size())
          field.push_back(alphabet[r % alphabet.size()]);
        std::vector<std::uint8_t> out(len + 1, 0x55);
        const std::ptrdiff_t n = DecodeField(field.data(), len, '#', qbin, out.data());
        EXPECT_GE(n, -1);
        EXPECT_LE(n, static_cast<std::ptrdiff_t>(len));
        EXPECT_EQ(out.back(), 0x55);
      }
    }
  }
}

TEST(KermitSendInit, ProposalTimeField) {
  EXPECT_EQ(OwnProposal(0, 0, 'Y')[ipTime], ToChar(5));
  EXPECT_EQ(OwnProposal(999, 0, 'Y')[ipTime], ToChar(5));
  EXPECT_EQ(OwnProposal(1000, 0, 'Y')[ipTime], ToChar(1));
  EXPECT_EQ(OwnProposal(60999, 0, 'Y')[ipTime], ToChar(60));
  EXPECT_EQ(OwnProposal(61000, 0, 'Y')[ipTime], ToChar(60));
  EXPECT_EQ(OwnProposal(5000, 0, 'Y')[ipChkt], '1');
  EXPECT_EQ(OwnProposal(5000, 1, 'Y')[ipChkt], '2');
}

TEST(KermitSendInit, ShortBlocksTakeDefaults) {
  const std::vector<std::uint8_t> s = Bytes({'~', '%'});
  TInitParams p = ReadInitParams(s.data(), s.size());
  EXPECT_EQ(p[ipMaxl], '~');
  EXPECT_EQ(p[ipTime], '%');
  EXPECT_EQ(p[ipQctl], '#');
  EXPECT_EQ(p[ipChkt], '1');
  EXPECT_EQ(p[ipRept], ' ');
  EXPECT_EQ(CheckIndexOf(p), 0);
  p = ReadInitParams(nullptr, 0);
  EXPECT_EQ(UnChar(p[ipMaxl]), 80);
  EXPECT_EQ(p[ipEol], ToChar(13));
}

TEST(KermitSendInit, UnusableValuesFallBack) {
  const std::vector<std::uint8_t> s = Bytes({' ', '%', ' ', '@', '-', ' ', 'Y', 'B', ' ', '('});
  TInitParams p = ReadInitParams(s.data(), s.size());
  EXPECT_EQ(UnChar(p[ipMaxl]), 80);
  EXPECT_EQ(p[ipQctl], '#');
  EXPECT_EQ(p[ipChkt], '1');
  const std::vector<std::uint8_t> big = Bytes({0xFF, '%', ' ', '@', '-', '#', 'Y', '3'});
  p = ReadInitParams(big.data(), big.size());
  EXPECT_EQ(UnChar(p[ipMaxl]), 94);
  EXPECT_EQ(CheckIndexOf(p), 2);
  EXPECT_EQ(MaxDataField(p, 2), 89u);
  EXPECT_EQ(MaxDataField(p, 0), 91u);
}

TEST(KermitSendInit, AnswerPromisesOnlyWhatThisEngineDoes) {
  // A typical full-featured sender: 8th-bit prefix "&", repeat "~", every capability, then
  // window and extended-length fields.
  const std::vector<std::uint8_t> s =
      Bytes({'~', '%', ' ', '@', '-', '#', '&', '3', '~', '_', '*', 'W', '!', '<'});
  TInitParams a = AnswerSendInit(ReadInitParams(s.data(), s.size()), 'Y');
  EXPECT_EQ(a.size(), 10u);
  EXPECT_EQ(a[ipQbin], '&');
  EXPECT_EQ(a[ipRept], ' ');
  EXPECT_EQ(a[ipCapas], '(');
  EXPECT_EQ(a[ipChkt], '3');
  EXPECT_EQ(a[ipMaxl], '~');
  // No attribute capability offered: none answered; QBIN "Y" stays.
  const std::vector<std::uint8_t> plain = Bytes({'~', '%', ' ', '@', '-', '#', 'Y', '1', ' ', '"'});
  a = AnswerSendInit(ReadInitParams(plain.data(), plain.size()), 'Y');
  EXPECT_EQ(a[ipCapas], ' ');
  EXPECT_EQ(a[ipQbin], 'Y');
}

TEST(KermitSendInit, ProposalQbin) {
  const std::vector<std::pair<int, int>> cases = {{'Y', 'Y'}, {'N', 'N'}, {'&', '&'},
                                                  {'`', '`'}, {'#', 'Y'}, {' ', 'Y'},
                                                  {0, 'Y'},   {'y', 'y'}, {0xA6, 'Y'}};
  for (auto [asked, sent] : cases)
    EXPECT_EQ(OwnProposal(5000, 0, static_cast<std::uint8_t>(asked))[ipQbin], sent) << asked;
}

TEST(KermitSendInit, ReadQbinRefusesWhatCannotBeAPrefix) {
  const std::vector<std::tuple<int, int, int>> cases = {
      // QCTL, QBIN sent, QBIN read
      {'#', 'Y', 'Y'}, {'#', 'N', 'N'}, {'#', '&', '&'}, {'#', '#', 'N'},  {'!', '!', 'N'},
      {' ', '#', 'N'}, {'#', ' ', 'N'}, {'#', 'A', 'N'}, {'#', 0xA6, 'N'}, {'#', '~', '~'}};
  for (auto [qctl, qbin, read] : cases) {
    const std::vector<std::uint8_t> s = Bytes({'~', '%', ' ', '@', '-', qctl, qbin, '1'});
    EXPECT_EQ(ReadInitParams(s.data(), s.size())[ipQbin], read) << qctl << " " << qbin;
  }
  // A block that stops before QBIN does not offer to prefix.
  const std::vector<std::uint8_t> shortBlock = Bytes({'~', '%', ' ', '@', '-', '#'});
  EXPECT_EQ(ReadInitParams(shortBlock.data(), shortBlock.size())[ipQbin], 'N');
}

TEST(KermitSendInit, AnswerQbin) {
  const std::vector<std::tuple<int, int, int>> cases = {
      // sender's QBIN, this side's choice, answer
      {'&', 'Y', '&'}, {'&', '&', '&'}, {'&', '`', '&'}, {'&', 'N', '&'},
      {'Y', '&', '&'}, {'Y', '`', '`'}, {'Y', 'Y', 'Y'}, {'Y', 'N', 'Y'},
      {'Y', '#', 'Y'}, {'Y', 0, 'Y'},   {'N', '&', 'N'}, {'N', 'Y', 'N'}};
  for (auto [theirs, ours, answer] : cases) {
    const std::vector<std::uint8_t> s =
        Bytes({'~', '%', ' ', '@', '-', '#', theirs, '1', ' ', ' '});
    EXPECT_EQ(
        AnswerSendInit(ReadInitParams(s.data(), s.size()), static_cast<std::uint8_t>(ours))[ipQbin],
        answer)
        << theirs << " " << ours;
  }
}

TEST(KermitSendInit, AgreedQbin) {
  const std::vector<std::tuple<int, int, int>> cases = {
      // sent, received, in force
      {'&', 'Y', '&'}, {'Y', '&', '&'}, {'&', '&', '&'}, {'`', 'Y', '`'},
      {'Y', '~', '~'}, {'&', '`', 0},   {'Y', 'Y', 0},   {'N', '&', 0},
      {'&', 'N', 0},   {'Y', 'N', 0},   {'N', 'N', 0},   {' ', '&', 0},
      {'&', ' ', 0},   {0, '&', 0},     {'&', 0, 0},     {'#', 'Y', '#'}};
  for (auto [sent, received, agreed] : cases)
    EXPECT_EQ(AgreedQbin(static_cast<std::uint8_t>(sent), static_cast<std::uint8_t>(received)),
              agreed)
        << sent << " " << received;
}

TEST(KermitSendInit, BothSidesAgreeOnTheEighthBitPrefix) {
  // Two engines: the sender proposes, the receiver answers; each then computes what is in
  // force from what it sent and what it read back.
  const std::vector<std::uint8_t> choices = {'Y', 'N', '&', '`', '#'};
  for (std::uint8_t senderChoice : choices) {
    for (std::uint8_t receiverChoice : choices) {
      const TInitParams s = OwnProposal(5000, 2, senderChoice);
      const TInitParams got = ReadInitParams(s.data(), s.size());
      const TInitParams y = AnswerSendInit(got, receiverChoice);
      const TInitParams back = ReadInitParams(y.data(), y.size());
      const std::uint8_t atSender = AgreedQbin(s[ipQbin], back[ipQbin]);
      const std::uint8_t atReceiver = AgreedQbin(y[ipQbin], got[ipQbin]);
      EXPECT_EQ(atSender, atReceiver) << senderChoice << " " << receiverChoice;
      const bool asked = IsPrefixChar(senderChoice) && senderChoice != '#';
      const bool askedBack = IsPrefixChar(receiverChoice) && receiverChoice != '#';
      // A receiver never refuses a prefix the sender asks for: it can always decode it.
      const bool wanted = asked || (s[ipQbin] == 'Y' && askedBack);
      EXPECT_EQ(atSender != 0, wanted) << senderChoice << " " << receiverChoice;
      if (atSender != 0) {
        EXPECT_NE(atSender, QctlOf(got));
      }
    }
  }
}

TEST(KermitAttributes, ExactLengthWinsOverLengthInK) {
  auto field = [](const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); };
  const std::string both = "!!2#120260101 12:00:001$1500";
  EXPECT_EQ(GetAttribute(field(both), both.size(), '#'), "20260101 12:00:00");
  EXPECT_EQ(AnnouncedSize(field(both), both.size()), 1500);
  const std::string k = "!!5";
  EXPECT_EQ(AnnouncedSize(field(k), k.size()), 5 * 1024 + 1);
  const std::string none = "#!x";
  EXPECT_EQ(AnnouncedSize(field(none), none.size()), 1);
  EXPECT_EQ(GetAttribute(field(none), none.size(), '!'), "");
  // A length that runs past the field is cut at the field's end; a low length stops the walk.
  const std::string cut = "1)12";
  EXPECT_EQ(GetAttribute(field(cut), cut.size(), '1'), "12");
  const std::string stop = "! 5";
  EXPECT_EQ(GetAttribute(field(stop), stop.size(), '!'), "");
  EXPECT_EQ(BuildAttributes(0), "!!1");
  EXPECT_EQ(BuildAttributes(1024), "!!2");
  EXPECT_EQ(BuildAttributes(1023), "!!1");
}
