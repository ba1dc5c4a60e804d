// The ZMODEM frame layer against worked values: the two CRCs on their check string, hex
// headers as a receiver and a sender put them on the line, binary headers and subpackets in
// both CRC forms, every escape the encoder must make (and none it need not), and the reader
// taking each back, with the escapes a peer may use that the encoder never writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vxcomm/vxxmodem/block.h"
#include "vxcomm/vxzmodem/frame.h"
#include "vxcomm/vxzmodem/reader.h"

using namespace vxcomm::vxzmodem;

namespace {

std::vector<std::uint8_t> B(const std::string& s) {
  return {s.begin(), s.end()};
}

std::vector<TFrameEvent> Feed(TFrameReader& reader, const std::vector<std::uint8_t>& bytes) {
  std::vector<TFrameEvent> events;
  for (const std::uint8_t b : bytes) {
    const TFrameEvent e = reader.Take(b);
    if (e != TFrameEvent::kNone) events.push_back(e);
  }
  return events;
}

std::vector<std::uint8_t> Escaped(const std::vector<std::uint8_t>& data, bool controls) {
  TFrameEncoder enc;
  enc.SetEscapeControls(controls);
  std::vector<std::uint8_t> out;
  enc.Subpacket(data.data(), data.size(), kZCrcE, false, out);
  // The data part only: the end (ZDLE 'h') and what follows go.
  for (std::size_t i = 0; i + 1 < out.size(); ++i)
    if (out[i] == kZDle && out[i + 1] == kZCrcE) return {out.begin(), out.begin() + i};
  return out;
}

}  // namespace

TEST(ZModemFrame, CrcsOfTheCheckString) {
  const std::string check = "123456789";
  const auto* p = reinterpret_cast<const std::uint8_t*>(check.data());
  EXPECT_EQ(Crc32(p, check.size()), 0xCBF43926u);
  EXPECT_EQ(vxcomm::vxxmodem::Crc16(p, check.size()), 0x31C3);
  EXPECT_EQ(~Crc32Update(Crc32Update(0xFFFFFFFFu, p, 4), p + 4, 5), 0xCBF43926u);
}

TEST(ZModemFrame, HexHeadersAsOnTheLine) {
  TFrameEncoder enc;
  std::vector<std::uint8_t> out;
  enc.Hex(THeader::At(ZRQINIT, 0), out);
  EXPECT_EQ(out, B("**\x18"
                   "B00000000000000\r\x8a\x11"));
  out.clear();
  enc.Hex(THeader::Flags(ZRINIT, kCanFdx | kCanOvio | kCanFc32), out);
  EXPECT_EQ(out, B("**\x18"
                   "B0100000023be50\r\x8a\x11"));
  out.clear();
  // ZACK and ZFIN end without XON.
  enc.Hex(THeader::At(ZFIN, 0), out);
  EXPECT_EQ(out.back(), 0x8a);
  out.clear();
  enc.Hex(THeader::At(ZRPOS, 0x01020304), out);
  EXPECT_EQ(std::string(out.begin() + 4, out.begin() + 14), "0904030201");
  // Read back, in lower case as written and in upper case as a peer might.
  for (const char* line : {"**\x18"
                           "B0100000023be50\r\x8a\x11",
                           "**\x18"
                           "B0100000023BE50\r\x8a"}) {
    TFrameReader reader;
    ASSERT_EQ(Feed(reader, B(line)), std::vector<TFrameEvent>{TFrameEvent::kHeader}) << line;
    EXPECT_EQ(reader.Header().type, ZRINIT);
    EXPECT_EQ(reader.Header().F(0), kCanFdx | kCanOvio | kCanFc32);
    EXPECT_EQ(reader.Form(), THeaderForm::kHex);
  }
}

TEST(ZModemFrame, HeaderFieldsAndFlags) {
  const THeader h = THeader::At(ZDATA, 0xA1B2C3D4u);
  EXPECT_EQ(h.data[0], 0xD4);
  EXPECT_EQ(h.data[3], 0xA1);
  EXPECT_EQ(h.Position(), 0xA1B2C3D4u);
  const THeader f = THeader::Flags(ZFILE, 1, 2, 3, 4);
  EXPECT_EQ(f.F(0), 1);
  EXPECT_EQ(f.F(3), 4);
  EXPECT_EQ(f.data[3], 1);
}

TEST(ZModemFrame, BinaryHeadersRoundTripInBothForms) {
  for (const bool crc32 : {false, true}) {
    TFrameEncoder enc;
    std::vector<std::uint8_t> out;
    const THeader sent = THeader::At(ZDATA, 0x18901113u);  // bytes that must be escaped
    enc.Binary(sent, crc32, out);
    EXPECT_EQ(out[0], kZPad);
    EXPECT_EQ(out[1], kZDle);
    EXPECT_EQ(out[2], crc32 ? kZBin32 : kZBin);
    TFrameReader reader;
    ASSERT_EQ(Feed(reader, out), std::vector<TFrameEvent>{TFrameEvent::kHeader});
    EXPECT_EQ(reader.Header().type, ZDATA);
    EXPECT_EQ(reader.Header().Position(), 0x18901113u);
    EXPECT_EQ(reader.Form(), crc32 ? THeaderForm::kBin32 : THeaderForm::kBin16);
  }
}

TEST(ZModemFrame, EscapesWhatMustBeEscaped) {
  EXPECT_EQ(Escaped({0x18, 0x10, 0x11, 0x13, 0x90, 0x91, 0x93, 0x98}, false),
            B("\x18X\x18P\x18Q\x18S\x18\xd0\x18\xd1\x18\xd3\x18\xd8"));
  // CR only after '@' (in either form).
  EXPECT_EQ(Escaped({'@', '\r', 'a', '\r', 0xC0, 0x8D}, false), B("@\x18Ma\r\xc0\x18\xcd"));
  // Other control characters only when asked; DEL and 0xFF never.
  EXPECT_EQ(Escaped({0x01, 0x0D, 0x7F, 0xFF, 0x81}, false), B("\x01\r\x7f\xff\x81"));
  EXPECT_EQ(Escaped({0x01, 0x0D, 0x7F, 0xFF, 0x81}, true), B("\x18"
                                                             "A\x18M\x7f\xff\x18\xc1"));
}

TEST(ZModemFrame, SubpacketsRoundTripWithEveryEnd) {
  std::vector<std::uint8_t> data;
  for (int i = 0; i < 1024; ++i) data.push_back(static_cast<std::uint8_t>(i * 7));
  for (const bool crc32 : {false, true}) {
    for (const std::uint8_t end : {kZCrcE, kZCrcG, kZCrcQ, kZCrcW}) {
      TFrameEncoder enc;
      std::vector<std::uint8_t> out;
      enc.Binary(THeader::At(ZDATA, 0), crc32, out);
      enc.Subpacket(data.data(), data.size(), end, crc32, out);
      if (end == kZCrcW) {
        EXPECT_EQ(out.back(), kXon);
      }
      TFrameReader reader;
      std::vector<TFrameEvent> events;
      for (const std::uint8_t b : out) {
        const TFrameEvent e = reader.Take(b);
        if (e == TFrameEvent::kHeader) reader.ExpectSubpacket();
        if (e != TFrameEvent::kNone) events.push_back(e);
      }
      ASSERT_EQ(events, (std::vector<TFrameEvent>{TFrameEvent::kHeader, TFrameEvent::kSubpacket}));
      EXPECT_EQ(reader.Data(), data);
      EXPECT_EQ(reader.End(), end);
      // After an end that a header follows, the reader hunts; after the others it reads data.
      EXPECT_EQ(reader.InData(), end == kZCrcG || end == kZCrcQ);
    }
  }
}

TEST(ZModemFrame, ReaderTakesThePeersOwnEscapes) {
  // A peer may escape DEL and 0xFF as ZRUB0 and ZRUB1, and any byte by its 0x40 form.
  std::vector<std::uint8_t> data = {0x7F, 0xFF, 0x01, 'A'};
  std::vector<std::uint8_t> line = {kZDle, kZRub0, kZDle, kZRub1, kZDle, 'A', 'A'};
  std::vector<std::uint8_t> checked = data;
  checked.push_back(kZCrcW);
  const std::uint16_t crc = vxcomm::vxxmodem::Crc16(checked.data(), checked.size());
  line.insert(line.end(), {kZDle, kZCrcW, static_cast<std::uint8_t>(crc >> 8),
                           static_cast<std::uint8_t>(crc & 0xFF)});
  TFrameEncoder enc;
  std::vector<std::uint8_t> all;
  enc.Binary(THeader::At(ZDATA, 0), false, all);
  all.insert(all.end(), line.begin(), line.end());
  TFrameReader reader;
  std::vector<TFrameEvent> events;
  for (const std::uint8_t b : all) {
    const TFrameEvent e = reader.Take(b);
    if (e == TFrameEvent::kHeader) reader.ExpectSubpacket();
    if (e != TFrameEvent::kNone) events.push_back(e);
  }
  ASSERT_EQ(events, (std::vector<TFrameEvent>{TFrameEvent::kHeader, TFrameEvent::kSubpacket}));
  EXPECT_EQ(reader.Data(), data);
}

TEST(ZModemFrame, FlowControlIsDroppedAndNoiseIgnored) {
  TFrameEncoder enc;
  std::vector<std::uint8_t> out = B("rz\r garbage * \x18 Z **");
  enc.Hex(THeader::Flags(ZRINIT, kCanFc32), out);
  std::vector<std::uint8_t> spaced;
  for (const std::uint8_t b : out) {
    spaced.push_back(b);
    spaced.push_back(kXon);
  }
  TFrameReader reader;
  ASSERT_EQ(Feed(reader, spaced), std::vector<TFrameEvent>{TFrameEvent::kHeader});
  EXPECT_EQ(reader.Header().type, ZRINIT);
  EXPECT_EQ(reader.Header().F(0), kCanFc32);
}

TEST(ZModemFrame, FiveZdleCancelAndFourDoNot) {
  TFrameReader reader;
  EXPECT_TRUE(Feed(reader, B("\x18\x18\x18\x18"
                             "a"))
                  .empty());
  EXPECT_EQ(Feed(reader, B("\x18\x18\x18\x18\x18")),
            std::vector<TFrameEvent>{TFrameEvent::kCancel});
  // Inside a subpacket too, where ZDLE ZDLE is no escape.
  TFrameEncoder enc;
  std::vector<std::uint8_t> out;
  enc.Binary(THeader::At(ZDATA, 0), true, out);
  TFrameReader inData;
  ASSERT_EQ(Feed(inData, out), std::vector<TFrameEvent>{TFrameEvent::kHeader});
  inData.ExpectSubpacket();
  EXPECT_EQ(Feed(inData, B("abc\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b")),
            std::vector<TFrameEvent>{TFrameEvent::kCancel});
  inData.ExpectSubpacket();
  EXPECT_EQ(Feed(inData, B("abc\x18\x18"
                           "a")),
            std::vector<TFrameEvent>{TFrameEvent::kBadSubpacket});
}

TEST(ZModemFrame, DamageIsNeverSound) {
  TFrameEncoder enc;
  std::vector<std::uint8_t> hex;
  enc.Hex(THeader::At(ZRPOS, 1234), hex);
  hex[6] = 'x';  // no hex digit
  TFrameReader reader;
  EXPECT_EQ(Feed(reader, hex), std::vector<TFrameEvent>{TFrameEvent::kBadHeader});
  std::vector<std::uint8_t> bin;
  enc.Binary(THeader::At(ZEOF, 99), false, bin);
  bin[4] ^= 0x01;
  EXPECT_EQ(Feed(reader, bin), std::vector<TFrameEvent>{TFrameEvent::kBadHeader});
  // A subpacket longer than any sender sends is refused, whatever its check.
  std::vector<std::uint8_t> big(kMaxSubpacket + 1, 'x');
  std::vector<std::uint8_t> line;
  enc.Binary(THeader::At(ZDATA, 0), true, line);
  enc.Subpacket(big.data(), big.size(), kZCrcG, true, line);
  std::vector<TFrameEvent> events;
  for (const std::uint8_t b : line) {
    const TFrameEvent e = reader.Take(b);
    if (e == TFrameEvent::kHeader) reader.ExpectSubpacket();
    if (e != TFrameEvent::kNone) events.push_back(e);
  }
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[1], TFrameEvent::kBadSubpacket);
}
