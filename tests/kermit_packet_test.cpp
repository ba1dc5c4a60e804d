// The Kermit packet layer on its own: block checks, framing, data encoding, the Send-Init
// block and attributes, against the worked examples of the protocol's documentation.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "vxkermit/attributes.h"
#include "vxkermit/encoding.h"
#include "vxkermit/packet.h"
#include "vxkermit/sendinit.h"

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
  const TInitParams init = OwnProposal(5000, 2);
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
    ASSERT_EQ(EncodeByte(static_cast<std::uint8_t>(b), q, out), 2u) << b;
    EXPECT_EQ(out[0], q);
    EXPECT_EQ(out[1], second) << b;
    std::uint8_t back = 0;
    EXPECT_EQ(DecodeField(out, 2, q, &back), 1);
    EXPECT_EQ(back, b);
  }
  for (int b : {0x80, 0xA3, 0x41, 0x20, 0x7E}) {
    std::uint8_t out[2] = {};
    EXPECT_EQ(EncodeByte(static_cast<std::uint8_t>(b), q, out), 1u) << b;
    EXPECT_EQ(out[0], b);
  }
}

TEST(KermitEncoding, EveryByteValueRoundTrips) {
  for (std::uint8_t q : {std::uint8_t('#'), std::uint8_t('&')}) {
    std::vector<std::uint8_t> field(512);
    std::size_t n = 0;
    for (int b = 0; b < 256; ++b)
      n += EncodeByte(static_cast<std::uint8_t>(b), q, field.data() + n);
    std::vector<std::uint8_t> back(n);
    ASSERT_EQ(DecodeField(field.data(), n, q, back.data()), 256);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(back[static_cast<std::size_t>(b)], b);
  }
}

TEST(KermitEncoding, DecodingTakesQuotedHighLiterallyAndRefusesALonePrefix) {
  const std::vector<std::uint8_t> f = Bytes({'&', 163, 'a', '&'});
  std::uint8_t out[4];
  EXPECT_EQ(DecodeField(f.data(), 2, '&', out), 1);
  EXPECT_EQ(out[0], 163);
  EXPECT_EQ(DecodeField(f.data(), f.size(), '&', out), -1);
  const std::vector<std::uint8_t> c1 = Bytes({'#', 0xC1, '#', 0xBF});  // 8-bit controls from a peer
  EXPECT_EQ(DecodeField(c1.data(), c1.size(), '#', out), 2);
  EXPECT_EQ(out[0], 0x81);
  EXPECT_EQ(out[1], 0xFF);
}

TEST(KermitSendInit, ProposalTimeField) {
  EXPECT_EQ(OwnProposal(0, 0)[ipTime], ToChar(5));
  EXPECT_EQ(OwnProposal(999, 0)[ipTime], ToChar(5));
  EXPECT_EQ(OwnProposal(1000, 0)[ipTime], ToChar(1));
  EXPECT_EQ(OwnProposal(60999, 0)[ipTime], ToChar(60));
  EXPECT_EQ(OwnProposal(61000, 0)[ipTime], ToChar(60));
  EXPECT_EQ(OwnProposal(5000, 0)[ipChkt], '1');
  EXPECT_EQ(OwnProposal(5000, 1)[ipChkt], '2');
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
  TInitParams a = AnswerSendInit(ReadInitParams(s.data(), s.size()));
  EXPECT_EQ(a.size(), 10u);
  EXPECT_EQ(a[ipQbin], 'N');
  EXPECT_EQ(a[ipRept], ' ');
  EXPECT_EQ(a[ipCapas], '(');
  EXPECT_EQ(a[ipChkt], '3');
  EXPECT_EQ(a[ipMaxl], '~');
  // No attribute capability offered: none answered; QBIN "Y" stays.
  const std::vector<std::uint8_t> plain = Bytes({'~', '%', ' ', '@', '-', '#', 'Y', '1', ' ', '"'});
  a = AnswerSendInit(ReadInitParams(plain.data(), plain.size()));
  EXPECT_EQ(a[ipCapas], ' ');
  EXPECT_EQ(a[ipQbin], 'Y');
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
