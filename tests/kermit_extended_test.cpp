// Long packets and repeat-count compression: the extended header built and read, with every
// damage to it; the encoder and decoder with repeat counts under every prefix combination,
// round trips of every byte value and of runs, hostile fields; the Send-Init fields that
// negotiate both; and two components back to back that agree on them, or fall back.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/ptypair.h"
#include "support/testseed.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/encoding.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

using namespace vxkermit;
using namespace kermitfiles;

namespace {

std::string FrameLong(char type, unsigned seq, const std::string& data, int checkIndex) {
  std::vector<std::uint8_t> buf(kLongDataPos + data.size() + 4);
  const std::size_t n = FrameLongPacket(buf.data(), static_cast<std::uint8_t>(type), seq, U(data),
                                        data.size(), checkIndex);
  return {reinterpret_cast<const char*>(buf.data()), n};
}

// The image of a framed packet: MARK through the check, the end of line left off.
std::string Image(const std::string& framed) {
  return framed.substr(0, framed.size() - 1);
}

bool VerifiesLong(const std::string& image, int checkIndex) {
  return VerifyLongPacket(U(image), image.size(), checkIndex);
}

struct Combo {
  std::uint8_t qbin, rept;
};
const Combo kCombos[] = {{0, 0}, {'&', 0}, {0, '~'}, {'&', '~'}, {'`', '!'}};

std::string Encode(const std::string& bytes, const TPrefixes& p) {
  std::string out(bytes.size() * kMaxEncodedRun + 8, '\0');
  std::size_t written = 0;
  const std::size_t used = EncodeData(
      U(bytes), bytes.size(), p, reinterpret_cast<std::uint8_t*>(out.data()), out.size(), written);
  EXPECT_EQ(used, bytes.size());
  out.resize(written);
  return out;
}

// Decodes into a buffer with Room bytes of space and guard bytes after it; -1 as a string
// "damaged". Fails the test when a guard byte changed.
std::string Decode(const std::string& field, const TPrefixes& p, std::size_t room) {
  std::vector<std::uint8_t> out(room + 64, 0xA5);
  const std::ptrdiff_t n = DecodeField(U(field), field.size(), p, out.data(), room);
  for (std::size_t i = room; i < out.size(); ++i) {
    EXPECT_EQ(out[i], 0xA5) << "written past the room at " << i;
    if (out[i] != 0xA5) break;
  }
  if (n < 0) return "damaged";
  return {reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(n)};
}

std::string Decode(const std::string& field, const TPrefixes& p) {
  return Decode(field, p, MaxDecodedLength(field.size(), p.rept != 0));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The extended header.

TEST(KermitLongPacket, HeaderOfAWorkedExample) {
  // A D packet, sequence 5, 1000 data bytes, type 3 check: extended length 1003 = 10 * 95
  // + 53; HCHECK over " %D*U" is 264, folded to 8.
  const std::string p = FrameLong('D', 5, std::string(1000, 'x'), 2);
  ASSERT_EQ(p.size(), 7u + 1000 + 3 + 1);
  EXPECT_EQ(p.substr(0, 7), std::string("\x01 %D*U(", 7));
  EXPECT_EQ(p.back(), '\r');
  EXPECT_EQ(LongPacketLength(U(p)), 1003);
  EXPECT_TRUE(VerifiesLong(Image(p), 2));
  EXPECT_FALSE(VerifiesLong(Image(p), 0));
}

TEST(KermitLongPacket, BuildAndReadBackEveryCheckAndManyLengths) {
  for (int k = 0; k < 3; ++k) {
    for (std::size_t len : {0u, 1u, 94u, 95u, 500u, 4000u, 9020u, 9021u, 9024u, 20000u}) {
      std::string data(len, '\0');
      for (std::size_t i = 0; i < len; ++i) data[i] = static_cast<char>(33 + (i * 7) % 90);
      const std::string p = FrameLong('D', 63, data, k);
      const std::size_t kept = std::min(len, kMaxLongLength - static_cast<std::size_t>(k + 1));
      ASSERT_EQ(p.size(), kLongDataPos + kept + static_cast<std::size_t>(k + 1) + 1)
          << k << " " << len;
      EXPECT_EQ(LongPacketLength(U(p)), static_cast<int>(kept) + k + 1);
      EXPECT_LE(LongPacketLength(U(p)), static_cast<int>(kMaxLongLength));
      EXPECT_TRUE(VerifiesLong(Image(p), k)) << k << " " << len;
      EXPECT_EQ(p.substr(kLongDataPos, kept), data.substr(0, kept));
      // The image must end exactly where the extended length says.
      EXPECT_FALSE(VerifyLongPacket(U(p), p.size(), k));
      EXPECT_FALSE(VerifyLongPacket(U(p), p.size() - 2, k));
    }
  }
}

TEST(KermitLongPacket, EveryValueOfEveryHeaderByteIsCaught) {
  const std::string good = Image(FrameLong('D', 17, std::string(300, 'q'), 2));
  for (std::size_t pos = kLenPos; pos < kLongDataPos; ++pos) {
    for (int v = 0; v < 256; ++v) {
      if (v == static_cast<std::uint8_t>(good[pos])) continue;
      std::string bad = good;
      bad[pos] = static_cast<char>(v);
      // A damaged header is never trusted whole: either its length is refused, or the
      // block check (which covers the header) refuses the packet.
      EXPECT_FALSE(VerifiesLong(bad, 2)) << pos << " " << v;
      if (pos == kHcheckPos || pos == kLenPos) {
        EXPECT_EQ(LongPacketLength(U(bad)), -1) << pos << " " << v;
      }
    }
  }
}

TEST(KermitLongPacket, BadHcheckIsRefusedWhateverTheLengthSays) {
  std::string h = "\x01 !D~~";
  h += static_cast<char>(HeaderCheck(U(h)));
  EXPECT_EQ(LongPacketLength(U(h)), 9024);
  for (int v = 0; v < 256; ++v) {
    if (v == static_cast<std::uint8_t>(h[kHcheckPos])) continue;
    std::string bad = h;
    bad[kHcheckPos] = static_cast<char>(v);
    EXPECT_EQ(LongPacketLength(U(bad)), -1) << v;
  }
  // Length characters out of range are refused even with a matching HCHECK; DEL as LENX1
  // (95 * 95) is read, as a peer sends it.
  for (auto [x1, x2, want] : std::vector<std::tuple<int, int, int>>{
           {0x7F, ' ', 9025}, {0x80, ' ', -1}, {' ', 0x7F, -1}, {0x1F, ' ', -1}, {'!', 0x10, -1}}) {
    std::string s = "\x01 !D";
    s += static_cast<char>(x1);
    s += static_cast<char>(x2);
    s += static_cast<char>(HeaderCheck(U(s)));
    EXPECT_EQ(LongPacketLength(U(s)), want) << x1 << " " << x2;
  }
  // A classic LEN is no long header.
  std::string classic = "\x01#!D  ";
  classic += static_cast<char>(HeaderCheck(U(classic)));
  EXPECT_EQ(LongPacketLength(U(classic)), -1);
}

TEST(KermitLongPacket, ExtendedLengthShorterThanTheCheckIsRefused) {
  for (int k = 0; k < 3; ++k) {
    for (int ext = 0; ext <= k; ++ext) {
      // Fewer characters than the check itself takes.
      std::string s = "\x01 !D";
      s += static_cast<char>(ToChar(0));
      s += static_cast<char>(ToChar(static_cast<unsigned>(ext)));
      s += static_cast<char>(HeaderCheck(U(s)));
      s += std::string(static_cast<std::size_t>(ext), '!');
      EXPECT_FALSE(VerifiesLong(s, k)) << k << " " << ext;
    }
  }
}

// ---------------------------------------------------------------------------------------
// Repeat counts with control and eighth-bit prefixing.

TEST(KermitRepeat, EncodingsInKermitsOrder) {
  const std::vector<std::tuple<std::string, Combo, std::string>> cases = {
      // bytes, (QBIN, REPT), field
      {"aaaa", {0, '~'}, "~$a"},
      {"aaa", {0, '~'}, "aaa"},  // no shorter with a count
      {"aaaa", {0, 0}, "aaaa"},
      {std::string(3, '\0'), {0, '~'}, "~##@"},
      {std::string(2, '\0'), {0, '~'}, "#@#@"},
      {std::string(94, 'z') + "z", {0, '~'}, "~~zz"},
      {std::string(5, '\x80'), {'&', '~'}, "~%&#@"},
      {std::string(5, '\x80'), {0, '~'}, "~%\x80"},
      {"~", {0, '~'}, "#~"},
      {"~", {0, 0}, "~"},
      {"~~~~~", {0, '~'}, "~%#~"},
      {"\xfe", {'&', '~'}, "&#~"},
      {"\xfe", {0, '~'}, "\xfe"},
      {"#", {'&', '~'}, "##"},
      {"&", {'&', '~'}, "#&"},
      {"&", {0, '~'}, "&"},
      {"\xa6\xa6\xa6\xa6", {'&', '~'}, "~$&#&"},
      {"\xff\xff\xff", {0, '~'}, "~##\xbf"},
      {"\r\n", {0, '~'}, "#M#J"},
  };
  for (const auto& [bytes, combo, field] : cases) {
    const TPrefixes p{'#', combo.qbin, combo.rept};
    EXPECT_EQ(Encode(bytes, p), field) << bytes << " " << combo.qbin << " " << combo.rept;
    EXPECT_EQ(Decode(field, p), bytes) << field;
  }
}

TEST(KermitRepeat, EveryByteValueAndEveryRunLengthRoundTrip) {
  for (const Combo& c : kCombos)
    for (bool minimal : {false, true}) {
      const TPrefixes p{'#', c.qbin, c.rept, minimal};
      SCOPED_TRACE(std::string("qbin ") + std::to_string(c.qbin) + " rept " +
                   std::to_string(c.rept) + (minimal ? " minimal" : ""));
      std::string all;
      for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
      const std::string enc = Encode(all, p);
      EXPECT_EQ(Decode(enc, p), all);
      // With an eighth-bit prefix every character on the line is 7-bit.
      if (c.qbin != 0) {
        for (char ch : enc) ASSERT_EQ(static_cast<std::uint8_t>(ch) & 0x80, 0);
      }
      for (int b = 0; b < 256; ++b) {
        for (std::size_t run = 1; run <= 200; ++run) {
          const std::string bytes = "x" + std::string(run, static_cast<char>(b)) + "y";
          const std::string field = Encode(bytes, p);
          ASSERT_EQ(Decode(field, p), bytes) << b << " x " << run;
          // From four equal bytes on, a count is shorter than the bytes one by one.
          const std::size_t one = EncodedLength(static_cast<std::uint8_t>(b), '#', c.qbin, c.rept);
          if (c.rept != 0 && run >= 4) {
            ASSERT_LT(field.size(), 2 + run * one) << b << " x " << run;
          }
        }
      }
    }
}

TEST(KermitRepeat, EncoderNeverWritesPastItsRoomAndStopsAtAWholeByte) {
  std::string bytes = std::string(300, '\0') + "abc" + std::string(50, '~') + "\xfe\xfe\xfe\x80";
  for (const Combo& c : kCombos)
    for (bool minimal : {false, true}) {
      const TPrefixes p{'#', c.qbin, c.rept, minimal};
      for (std::size_t room = 0; room < 40; ++room) {
        std::string out(room + 16, '\x5a');
        std::size_t written = 0;
        const std::size_t used = EncodeData(
            U(bytes), bytes.size(), p, reinterpret_cast<std::uint8_t*>(out.data()), room, written);
        ASSERT_LE(written, room);
        for (std::size_t i = room; i < out.size(); ++i) ASSERT_EQ(out[i], '\x5a');
        EXPECT_EQ(Decode(out.substr(0, written), p), bytes.substr(0, used)) << room;
      }
    }
}

TEST(KermitPrefixing, MinimalPrefixingLeavesOnlyTheCharactersALineActsOnPrefixed) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (std::uint8_t qbin : {std::uint8_t{0}, std::uint8_t{'&'}}) {
    const TPrefixes p{'#', qbin, 0, true};
    const std::string field = Encode(all, p);
    EXPECT_EQ(Decode(field, p), all);
    // NUL, SOH, Ctrl-D, LF, CR, XON, XOFF, Ctrl-U and DEL never reach the line as
    // themselves, in any position.
    const std::string kept{'\0', 1, 4, 10, 13, 17, 19, 21, 127, '\xff'};
    for (char ch : field) EXPECT_EQ(kept.find(ch), std::string::npos) << int(ch);
    // Every other control character does: 24 of the 32 travel bare.
    for (int b : {2, 3, 9, 27, 31})
      EXPECT_NE(field.find(static_cast<char>(b)), std::string::npos) << b;
    // Against full prefixing, 24 characters fewer (48 with an eighth-bit prefix).
    const TPrefixes full{'#', qbin, 0, false};
    EXPECT_EQ(Encode(all, full).size() - field.size(), qbin ? 48u : 24u);
  }
}

// The answers to a Send-Init seen from real receivers: a full Kermit program receiving with
// its defaults (windows, WHATAMI), a small one (no window, WHATAMI), and a bootloader's
// (long packets only), which acts on the control characters in a data field.
TEST(KermitPrefixing, OnlyAPeerThatShowsAFullKermitTakesControlCharactersBare) {
  const std::string full = "~/ @-#Y3~^>J)0___F\"U1@";
  const std::string small = "~' @-#Y3~*!J*0+++J\"U1@";
  const std::string bootloader = "~! @-#N1N\" ~~";
  EXPECT_TRUE(TakesBareControls(U(full), full.size()));
  EXPECT_TRUE(TakesBareControls(U(small), small.size()));
  EXPECT_FALSE(TakesBareControls(U(bootloader), bootloader.size()));
  // The basic block, and one cut before WINDO, offer nothing of the kind.
  EXPECT_FALSE(TakesBareControls(U("~% @-#Y1 "), 9));
  EXPECT_FALSE(TakesBareControls(U("~% @-#Y3~*"), 10));
}

namespace {

// Whether a data packet among Blocks carries a control character other than MARK and the end
// of line, which frame every packet.
bool CarriesBareControls(const std::vector<std::string>& blocks) {
  for (const std::string& b : blocks) {
    if (b.size() < 4 || b[3] != 'D') continue;
    for (std::size_t i = 1; i + 1 < b.size(); ++i)
      if (static_cast<unsigned char>(b[i]) < 32) return true;
  }
  return false;
}

}  // namespace

TEST(KermitPrefixing, PeerAwarePrefixingLeavesControlsBareOnlyForAReceiverThatShowsItTakesThem) {
  std::string all;
  for (int i = 0; i < 40; ++i)
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (const int receiverWindow : {1, 31}) {
    const std::string src = MakeTempDir("kx-pf-src"), dst = MakeTempDir("kx-pf-dst");
    WriteAll(src + "/all.bin", all);
    TvxKermit sender, receiver;
    for (TvxKermit* k : {&sender, &receiver}) {
      k->SetActive(true);
      k->SetLongPackets(true);
    }
    sender.SetControlPrefixing(cpfPeerAware);
    sender.SetWindowSize(31);
    receiver.SetWindowSize(receiverWindow);
    receiver.SetDefaultPath(dst);
    bool agreed = false;
    sender.OnFileStart = [&](TObject*) { agreed = sender.MinimalPrefixingAgreed(); };
    KermitLink link(&sender, &receiver);
    sender.SendFiles(src + "/all.bin");
    ASSERT_TRUE(link.WaitForSessionEnd(60000)) << receiverWindow;
    sender.OnFileStart = nullptr;
    EXPECT_EQ(ReadAll(dst + "/all.bin"), all) << receiverWindow;
    EXPECT_EQ(agreed, receiverWindow > 1);
    EXPECT_EQ(CarriesBareControls(link.sentByA), receiverWindow > 1);
    EXPECT_FALSE(sender.MinimalPrefixingAgreed());
  }
}

TEST(KermitRepeat, HostileFieldsAreDamageNeverAnOverrun) {
  const TPrefixes rp{'#', 0, '~'};
  const TPrefixes both{'#', '&', '~'};
  const std::vector<std::pair<std::string, TPrefixes>> damaged = {{"~", rp},
                                                                  {"ab~", rp},
                                                                  {"~$", rp},
                                                                  {"~ a", rp},
                                                                  {"~\x7f"
                                                                   "a",
                                                                   rp},
                                                                  {"~\x1f"
                                                                   "a",
                                                                   rp},
                                                                  {"~\xa4"
                                                                   "a",
                                                                   rp},
                                                                  {"~$~", rp},
                                                                  {"~$#", rp},
                                                                  {"#", rp},
                                                                  {"~$&", both},
                                                                  {"&~", both},
                                                                  {"&", both},
                                                                  {"~$&#", both},
                                                                  {"a#", both}};
  for (const auto& [field, p] : damaged) EXPECT_EQ(Decode(field, p), "damaged") << field;
  // A count larger than the room left is damage, and nothing lands past the room.
  EXPECT_EQ(Decode("~~a", rp, 93), "damaged");
  EXPECT_EQ(Decode("~~a", rp, 94), std::string(94, 'a'));
  EXPECT_EQ(Decode("b~~a", rp, 94), "damaged");
  // Count 1 is legal, if wasteful.
  EXPECT_EQ(Decode("~!a", rp), "a");

  // Random fields over the prefix-rich alphabet, into rooms of every size.
  const unsigned seed = TestSeed("KermitRepeat.HostileFields");
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const std::string alphabet =
      "~#&!$ \x7f\x1f"
      "a~~##\xfe\xa3";
  for (int i = 0; i < 20000; ++i) {
    std::string field(rng() % 12, '\0');
    for (auto& ch : field) ch = alphabet[rng() % alphabet.size()];
    const TPrefixes& p = (i & 1) ? both : rp;
    const std::size_t room = rng() % 300;
    const std::string got = Decode(field, p, room);
    if (got != "damaged") {
      EXPECT_LE(got.size(), room) << field;
    }
    if (HasFailure()) break;
  }
}

TEST(KermitRepeat, OldDecoderKeepsItsContract) {
  // Without a repeat prefix "~" is an ordinary character and "#~" the quote of ">".
  const std::string f = "a~#~";
  std::uint8_t out[8];
  ASSERT_EQ(DecodeField(U(f), f.size(), '#', 0, out), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "a~>");
}

// ---------------------------------------------------------------------------------------
// Send-Init fields.

TEST(KermitExtendedInit, ProposalAndBlock) {
  const TInitParams classic = OwnProposal(5000, 2, 'Y');
  const TInitBlock plain = MakeInitBlock(classic, 0);
  EXPECT_EQ(std::string(plain.data(), plain.data() + plain.size),
            std::string(classic.begin(), classic.end()));
  EXPECT_EQ(OwnProposal(5000, 2, 'Y', '~')[ipRept], '~');
  EXPECT_EQ(OwnProposal(5000, 2, 'Y', 0)[ipRept], ' ');
  EXPECT_EQ(OwnProposal(5000, 2, 'Y', '#')[ipRept], ' ');
  EXPECT_EQ(OwnProposal(5000, 2, '&', '&')[ipRept], ' ');
  EXPECT_EQ(OwnProposal(5000, 2, 'Y', 'A')[ipRept], ' ');
  const TInitBlock full = MakeInitBlock(OwnProposal(5000, 2, 'Y', '~'), 9024);
  EXPECT_EQ(std::string(full.data(), full.data() + full.size), "~% @-#Y3~*!~~");
  const TInitBlock small = MakeInitBlock(classic, 500);
  EXPECT_EQ(std::string(small.data() + 9, small.data() + small.size), "*!%9");
  EXPECT_EQ(ReadLongPacketLength(small.data(), small.size), 500u);
  EXPECT_EQ(ReadLongPacketLength(full.data(), full.size), 9024u);
  EXPECT_EQ(ReadLongPacketLength(plain.data(), plain.size), 0u);
}

TEST(KermitExtendedInit, ReadingPeersBlocks) {
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {"~/ @-#Y3~^>J)0___F\"U1@", 3999},  // a full-featured peer
      {"~' @-#Y3~*!J*0+++N\"U1A", 4000},
      {"~' @-#Y3~(!J*", 0},  // attributes only: no long packets
      {"~' @-#Y3~*", 500},   // the bit without the sizes
      {"~' @-#Y3~*!", 500},
      {"~' @-#Y3~*!  ", 500},
      {"~' @-#Y3~# !J*", 4000},  // CAPAS continued: WINDO follows the last byte
      {"~' @-#Y3~#!!", 500},
      {"~' @-#Y3~\x0a!J*", 0},  // a control character is no CAPAS
      {"~' @-#Y3~*!\x7f\x7f", 500},
      {"~' @-#Y3", 0},
      {"", 0},
  };
  for (const auto& [block, want] : cases)
    EXPECT_EQ(ReadLongPacketLength(U(block), block.size()), want) << block;
}

TEST(KermitExtendedInit, AnswerAndAgreementOnRepeatCounts) {
  const std::vector<std::tuple<int, int, bool, int>> cases = {
      // sender's REPT, sender's QBIN, receiver takes repeats, answer
      {'~', 'Y', true, '~'}, {'~', 'Y', false, ' '}, {' ', 'Y', true, ' '}, {'#', 'Y', true, ' '},
      {'&', '&', true, ' '}, {'`', 'Y', true, '`'},  {'A', 'Y', true, ' '}};
  for (auto [rept, qbin, takes, answer] : cases) {
    const std::string s = {
        '~', '%', ' ', '@', '-', '#', static_cast<char>(qbin), '1', static_cast<char>(rept), '('};
    const TInitParams got = ReadInitParams(U(s), s.size());
    const TInitParams a = AnswerSendInit(got, 'Y', takes);
    EXPECT_EQ(a[ipRept], answer) << rept << " " << qbin << " " << takes;
    EXPECT_EQ(AgreedRept(got[ipRept], a[ipRept], '#', AgreedQbin(a[ipQbin], got[ipQbin])),
              answer == ' ' ? 0 : answer);
  }
  // The receiver's own eighth-bit choice wins over a repeat prefix that equals it.
  const std::string s = "~% @-#Y1&(";
  const TInitParams a = AnswerSendInit(ReadInitParams(U(s), s.size()), '&', true);
  EXPECT_EQ(a[ipQbin], '&');
  EXPECT_EQ(a[ipRept], ' ');
  EXPECT_EQ(AgreedRept('~', '~', '#', 0), '~');
  EXPECT_EQ(AgreedRept('~', ' ', '#', 0), 0);
  EXPECT_EQ(AgreedRept('~', '`', '#', 0), 0);
  EXPECT_EQ(AgreedRept('~', '~', '~', 0), 0);
  EXPECT_EQ(AgreedRept('&', '&', '#', '&'), 0);
}

// ---------------------------------------------------------------------------------------
// Two components back to back.

namespace {

struct Sides {
  bool senderLong, senderRepeat, receiverLong, receiverRepeat;
  int senderMax = 9024, receiverMax = 9024;
};

class KermitExtendedEngine : public ::testing::TestWithParam<Sides> {
 protected:
  void SetUp() override {
    src = MakeTempDir("kx-src");
    dst = MakeTempDir("kx-dst");
    for (TvxKermit* k : {&sender, &receiver}) {
      k->SetActive(true);
      k->SetTimeout(2000);
      k->OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
        raise = false;
        fatal.push_back(msg);
      };
    }
    receiver.SetDefaultPath(dst);
    const Sides s = GetParam();
    sender.SetLongPackets(s.senderLong);
    sender.SetRepeatCounts(s.senderRepeat);
    sender.SetMaxLongPacketLength(s.senderMax);
    receiver.SetLongPackets(s.receiverLong);
    receiver.SetRepeatCounts(s.receiverRepeat);
    receiver.SetMaxLongPacketLength(s.receiverMax);
    // The negotiated state is read at the first file, while the session runs.
    receiver.OnFileStart = [this](TObject*) {
      recvLong = receiver.SendLongPacketLength();
      recvTakes = receiver.RecvLongPacketLength();
      recvRept = receiver.Rept();
    };
    sender.OnFileStart = [this](TObject*) {
      sendLong = sender.SendLongPacketLength();
      sendRept = sender.Rept();
    };
  }
  void TearDown() override {
    sender.OnFileStart = nullptr;
    receiver.OnFileStart = nullptr;
  }

  bool RunSession() {
    auto done = [this] {
      return !link.sentByA.empty() && sender.State() == fsListen && receiver.State() == fsListen;
    };
    WaitUntil(done, 60000);
    WaitUntil([] { return false; }, 30);
    return done();
  }

  std::string src, dst;
  TvxKermit sender, receiver;
  KermitLink link{&sender, &receiver};
  std::vector<std::string> fatal;
  std::size_t recvLong = 0, recvTakes = 0, sendLong = 0;
  std::uint8_t recvRept = 0, sendRept = 0;
};

std::string RunsFile() {
  std::string s;
  std::mt19937 rng(7);
  while (s.size() < 600000) s += std::string(1 + rng() % 400, static_cast<char>(rng() % 256));
  return s;
}

}  // namespace

TEST_P(KermitExtendedEngine, FilesArriveIdenticalWithWhatBothSidesAgreed) {
  const Sides s = GetParam();
  const auto names = WriteStandardSet(src, 300 * 1024 + 5);
  WriteAll(src + "/runs.bin", RunsFile());
  WriteAll(src + "/tilde~#&.txt", std::string(500, '~') + "#&" + std::string(200, '#'));
  std::size_t total = 0;
  for (const auto& n : names) total += ReadAll(src + "/" + n).size();
  total += ReadAll(src + "/runs.bin").size() + 702;
  sender.SetCrc(crc16bit);
  sender.SendFiles(src + "/*");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(fatal.empty()) << fatal.front();
  for (const auto& n : names) EXPECT_TRUE(ReadAll(dst + "/" + n) == ReadAll(src + "/" + n)) << n;
  EXPECT_TRUE(ReadAll(dst + "/runs.bin") == ReadAll(src + "/runs.bin"));
  EXPECT_EQ(ReadAll(dst + "/tilde~#&.txt"), ReadAll(src + "/tilde~#&.txt"));

  const bool longs = s.senderLong && s.receiverLong;
  const std::size_t agreed =
      longs ? static_cast<std::size_t>(std::min(s.senderMax, s.receiverMax)) : 0;
  EXPECT_EQ(sendLong, agreed);
  EXPECT_EQ(recvLong, agreed);
  EXPECT_EQ(recvTakes, longs ? static_cast<std::size_t>(s.receiverMax) : 0u);
  const std::uint8_t rept = s.senderRepeat && s.receiverRepeat ? '~' : 0;
  EXPECT_EQ(sendRept, rept);
  EXPECT_EQ(recvRept, rept);
  // The packets on the wire: long ones only when agreed, never above the agreed length.
  std::size_t longest = 0, bytes = 0;
  for (const auto& b : link.sentByA) {
    longest = std::max(longest, b.size());
    bytes += b.size();
  }
  if (longs) {
    EXPECT_EQ(sender.LargestPacketSent(), longest - 1);
    EXPECT_GT(longest, agreed - 16);
    EXPECT_LE(longest, agreed + 3);
    EXPECT_EQ(receiver.LargestPacketReceived(), longest - 1);
  } else {
    EXPECT_LE(longest, 96u + 3);
  }
  for (const auto& b : link.sentByA) {
    if (b.size() > 1 && b[1] == ' ') {
      ASSERT_TRUE(longs);
    }
  }
  // Repeat counts shrink a file of long runs far below its size.
  if (rept != 0)
    EXPECT_LT(bytes, total * 7 / 10);
  else
    EXPECT_GT(bytes, total);
}

INSTANTIATE_TEST_SUITE_P(
    Sides, KermitExtendedEngine,
    ::testing::Values(Sides{true, true, true, true}, Sides{true, false, true, false},
                      Sides{false, true, false, true}, Sides{true, true, false, false},
                      Sides{false, false, true, true}, Sides{true, true, true, true, 9024, 700},
                      Sides{true, true, true, true, 1000, 9024},
                      Sides{true, true, true, true, 95, 95}),
    [](const ::testing::TestParamInfo<Sides>& info) {
      const Sides& s = info.param;
      return std::string(s.senderLong ? "L" : "l") + (s.senderRepeat ? "R" : "r") + "_to_" +
             (s.receiverLong ? "L" : "l") + (s.receiverRepeat ? "R" : "r") + "_" +
             std::to_string(s.senderMax) + "_" + std::to_string(s.receiverMax);
    });

// A line that damages one byte in a thousand each way. Packets of 9000 bytes would almost
// never cross whole and the sender would spend its repeats on the first one: it must shrink
// its packets to what the line carries, and the file must arrive.
class KermitNoisyLine : public KermitExtendedEngine {};

TEST_P(KermitNoisyLine, LongPacketsShrinkToWhatTheLineCarriesAndTheFileArrives) {
  const unsigned seed = TestSeed("KermitNoisyLine");
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uint64_t flipped = 0;
  link.filter = [&](bool, const std::string& block) {
    std::string out = block;
    for (char& c : out)
      if (rng() % 1000 == 0) {
        c = static_cast<char>(c ^ (1 << (rng() % 8)));
        ++flipped;
      }
    return out;
  };
  for (TvxKermit* k : {&sender, &receiver}) {
    // As the vxkermit program sets them: repeats of one packet are limited, a session's errors
    // are not.
    k->SetAdaptiveTimeout(true);
    k->SetRetryLimit(10);
    k->SetErrorLimit(INT_MAX);
  }
  WriteAll(src + "/noisy.bin", RandomBytes(256 * 1024, seed));
  sender.SetCrc(crc16bit);
  sender.SendFiles(src + "/noisy.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(fatal.empty()) << fatal.front();
  EXPECT_TRUE(ReadAll(dst + "/noisy.bin") == ReadAll(src + "/noisy.bin"));
  EXPECT_GT(flipped, 100u);
  // Long packets were agreed and used, only shorter than the line would allow.
  EXPECT_EQ(sendLong, 9024u);
  EXPECT_GT(sender.LargestPacketSent(), 96u);
  EXPECT_LT(sender.LargestPacketSent(), 4000u);
}

INSTANTIATE_TEST_SUITE_P(Long, KermitNoisyLine, ::testing::Values(Sides{true, true, true, true}));

namespace {

// A receiving component fed by hand: its answers are collected as they are sent.
class KermitLongReceiver : public ::testing::Test {
 protected:
  void SetUp() override {
    dst = MakeTempDir("kx-hand");
    r.SetActive(true);
    r.SetTimeout(5000);
    r.SetDefaultPath(dst);
    r.SetLongPackets(true);
    r.SetRepeatCounts(true);
    r.OnDataSend = [this](TObject*, const void* d, Cardinal n, bool, bool& handled) {
      handled = true;
      sent.emplace_back(static_cast<const char*>(d), n);
    };
    r.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
      raise = false;
      fatal.push_back(msg);
    };
  }
  void TearDown() override { r.OnDataSend = nullptr; }
  void Feed(const std::string& bytes) {
    r.DataReceived(bytes.data(), static_cast<Cardinal>(bytes.size()));
  }
  std::string Classic(char type, unsigned seq, const std::string& data, int k) {
    std::array<std::uint8_t, kPacketImageSize> buf{};
    const std::size_t n =
        FramePacket(buf.data(), static_cast<std::uint8_t>(type), seq, U(data), data.size(), k);
    return {reinterpret_cast<const char*>(buf.data()), n};
  }
  // Starts a session offering long packets and repeat counts, with type 3, and opens a file.
  void Start() {
    const TInitBlock b = MakeInitBlock(OwnProposal(5000, 2, 'Y', '~'), 9024);
    Feed(Classic('S', 0, std::string(b.data(), b.data() + b.size), 0));
    Feed(Classic('F', 1, "hand.bin", 2));
    ASSERT_EQ(r.State(), fsReceive);
    ASSERT_EQ(r.RecvLongPacketLength(), 9024u);
    ASSERT_EQ(r.Rept(), '~');
    sent.clear();
  }

  std::string dst;
  TvxKermit r;
  std::vector<std::string> sent;
  std::vector<std::string> fatal;
};

}  // namespace

TEST_F(KermitLongReceiver, BadHeaderCheckIsRefusedAtOnceNotWaitedFor) {
  Start();
  std::string p = FrameLong('D', 2, std::string(8000, 'a'), 2);
  p[kHcheckPos] = static_cast<char>(p[kHcheckPos] ^ 1);
  // Only the header arrives: the NAK goes out without a byte of the promised 8000.
  Feed(p.substr(0, kLongDataPos));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][kTypePos], 'N');
  EXPECT_EQ(sent[0][kSeqPos], static_cast<char>(ToChar(2)));
  // A length above what this side announced is refused as promptly.
  sent.clear();
  std::string h = "\x01 \"D\x7f*";  // 9035
  h += static_cast<char>(HeaderCheck(U(h)));
  Feed(h);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][kTypePos], 'N');
  // The good packet after all that is taken and acknowledged.
  sent.clear();
  const std::string good = FrameLong('D', 2, std::string(8000, 'b'), 2);
  Feed(good);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][kTypePos], 'Y');
  EXPECT_EQ(r.LargestPacketReceived(), good.size() - 1);
  Feed(Classic('Z', 3, "", 2));
  Feed(Classic('B', 4, "", 2));
  EXPECT_EQ(r.State(), fsListen);
  EXPECT_TRUE(fatal.empty());
  EXPECT_EQ(ReadAll(dst + "/hand.bin"), std::string(8000, 'b'));
}

TEST_F(KermitLongReceiver, DamagedRepeatFieldIsRefusedAndNothingIsWritten) {
  Start();
  for (const std::string& field : {std::string("abc~"), std::string("~ a"), std::string("~$#")}) {
    sent.clear();
    Feed(Classic('D', 2, field, 2));
    ASSERT_EQ(sent.size(), 1u) << field;
    EXPECT_EQ(sent[0][kTypePos], 'N') << field;
  }
  sent.clear();
  Feed(FrameLong('D', 2, "~~q" + std::string(300, 'r'), 2));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][kTypePos], 'Y');
  Feed(Classic('Z', 3, "", 2));
  Feed(Classic('B', 4, "", 2));
  EXPECT_EQ(r.State(), fsListen);
  EXPECT_EQ(ReadAll(dst + "/hand.bin"), std::string(94, 'q') + std::string(300, 'r'));
}

TEST_F(KermitLongReceiver, WithoutLongPacketsABlankLenIsDamageAsBefore) {
  r.SetLongPackets(false);
  const TInitBlock b = MakeInitBlock(OwnProposal(5000, 2, 'Y', '~'), 9024);
  Feed(Classic('S', 0, std::string(b.data(), b.data() + b.size), 0));
  ASSERT_EQ(sent.size(), 1u);
  // The answer declines: ten classic fields, no long-packet bit.
  const std::string y = sent[0];
  const std::size_t len = static_cast<std::size_t>(UnChar(static_cast<std::uint8_t>(y[kLenPos])));
  EXPECT_EQ(len - 3, 10u);
  EXPECT_EQ(UnChar(static_cast<std::uint8_t>(y[kDataPos + ipCapas])) & kCapasLongPackets, 0);
  EXPECT_EQ(r.RecvLongPacketLength(), 0u);
  Feed(Classic('F', 1, "hand.bin", 2));
  sent.clear();
  Feed(FrameLong('D', 2, std::string(1000, 'a'), 2).substr(0, 3));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][kTypePos], 'N');
}
