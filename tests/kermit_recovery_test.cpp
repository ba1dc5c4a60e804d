// Recovery of an interrupted transfer: the "+R" disposition and the length the receiver
// reports, read and written; two components back to back where a transfer cut half-way is
// resent and only the rest crosses the line; a receiver without the file, with all of it,
// with a longer one, or that does not offer recovery; and a reported length the sender
// cannot trust, which ends the session with an error instead of a wrong file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <string>
#include <vector>

#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/ptypair.h"
#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/attributes.h"
#include "vxcomm/vxkermit/encoding.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

using namespace vxkermit;
using namespace kermitfiles;

namespace {

std::int64_t Held(const std::string& reply) {
  return ReadHeldLength(U(reply), reply.size());
}

}  // namespace

TEST(KermitRecoveryAttributes, TheDispositionIsSentOnlyWhenAsked) {
  const std::string plain = BuildAttributes(5000, true);
  const std::string resent = BuildAttributes(5000, true, -1, true);
  EXPECT_EQ(resent, plain + "+!R");
  EXPECT_FALSE(AsksRecovery(U(plain), plain.size()));
  EXPECT_TRUE(AsksRecovery(U(resent), resent.size()));
  EXPECT_EQ(ExactSize(U(resent), resent.size()), 5000);
  const std::string other = "+!M";
  EXPECT_FALSE(AsksRecovery(U(other), other.size()));
}

TEST(KermitRecoveryAttributes, TheReportedLengthIsReadOrRefused) {
  EXPECT_EQ(HeldLengthReply(100000), "1&100000");
  EXPECT_EQ(HeldLengthReply(0), "1!0");
  for (std::int64_t v : {0LL, 1LL, 99LL, 123456789LL, 999999999999999999LL})
    EXPECT_EQ(Held(HeldLengthReply(v)), v) << v;
  // As a widely used peer answers: the length, or -1 for a file it does not hold.
  EXPECT_EQ(Held("1&100000"), 100000);
  EXPECT_EQ(Held("1\"-1"), 0);
  EXPECT_EQ(Held("Y1#123"), 123);
  EXPECT_EQ(Held("#\"ab1#123"), 123);
  // No length at all: nothing held.
  EXPECT_EQ(Held(""), 0);
  EXPECT_EQ(Held("Y"), 0);
  // A length cut short, not a number, too long, or an entry that runs off the end: never a
  // number that would put the data in the wrong place.
  const std::vector<std::string> bad = {
      "1%123", "1!x", "1#-12", "1\"-2",
      "1 ",    "1",   "1\x7f", "1" + std::string(1, ' ' + 19) + std::string(19, '9'),
      "#\"a",  "N",   "1\x05"};
  for (const std::string& b : bad) EXPECT_EQ(Held(b), -1) << b;
}

TEST(KermitRecoveryAttributes, HostileRepliesNeverReadPastTheirEnd) {
  std::string field;
  for (int len = 0; len < 40; ++len) {
    for (int v = 0; v < 256; v += 7) {
      field.assign(static_cast<std::size_t>(len), static_cast<char>(v));
      if (len > 0) field[0] = '1';
      const std::int64_t held = Held(field);
      EXPECT_GE(held, -1);
    }
  }
}

TEST(KermitRecoveryInit, TheCapabilityIsOfferedOnlyWhenAsked) {
  TInitParams p = OwnProposal(5000, 0, 'Y');
  EXPECT_FALSE(OffersCapability(p, kCapasResend));
  p[ipCapas] = ToChar(kCapasAttributes | kCapasResend);
  EXPECT_TRUE(OffersCapability(p, kCapasResend));
  // The long-packet block keeps the bit; the classic block carries it as it is.
  const TInitBlock block = MakeInitBlock(p, 9024);
  EXPECT_TRUE(UnChar(block.bytes[ipCapas]) & kCapasResend);
  EXPECT_TRUE(UnChar(block.bytes[ipCapas]) & kCapasLongPackets);
  for (int v : {0, 31, 127, 200, 255}) {
    p[ipCapas] = static_cast<std::uint8_t>(v);
    EXPECT_FALSE(OffersCapability(p, kCapasResend)) << v;
  }
}

namespace {

struct RecoveryCase {
  bool longPackets;
  bool repeatCounts;
};

class KermitRecovery : public ::testing::TestWithParam<RecoveryCase> {
 protected:
  void SetUp() override {
    src = MakeTempDir("kr-src");
    dst = MakeTempDir("kr-dst");
    recvLog.detailLevel = dlDebug;
    sendLog.detailLevel = dlDebug;
    receiver.SetLog(&recvLog);
    sender.SetLog(&sendLog);
    for (TvxKermit* k : {&sender, &receiver}) {
      k->SetActive(true);
      k->SetTimeout(1000);
      k->SetLongPackets(GetParam().longPackets);
      k->SetRepeatCounts(GetParam().repeatCounts);
      k->SetRecovery(true);
      k->OnFatalError = [this, k](TObject*, Cardinal, Cardinal detail, const std::string& msg,
                                  bool& raise) {
        raise = false;
        (k == &sender ? senderFatal : receiverFatal).push_back(msg);
        if (detail == TvxKermit::kRecoveryFailure) ++recoveryFailures;
      };
    }
    sender.SetCrc(crc16bit);
    sender.SetExactLength(true);
    receiver.SetDefaultPath(dst);
  }

  bool RunSession() { return link.WaitForSessionEnd(60000); }

  // The file bytes the D packets from the sender carry (a repeat counted again).
  std::size_t PayloadSent() const {
    const TPrefixes prefixes{'#', 0, static_cast<std::uint8_t>(GetParam().repeatCounts ? '~' : 0)};
    const std::size_t check = static_cast<std::size_t>(CheckLength(2));
    std::vector<std::uint8_t> out(20000);
    std::size_t total = 0;
    for (const std::string& b : link.sentByA) {
      if (b.size() < 6 || b[kTypePos] != 'D') continue;
      std::size_t at = kDataPos, len = 0;
      if (b[kLenPos] == ' ') {
        at = kLongDataPos;
        len = static_cast<std::size_t>(LongPacketLength(U(b))) - check;
      } else {
        len = static_cast<std::size_t>(UnChar(static_cast<std::uint8_t>(b[kLenPos]))) - 2 - check;
      }
      const std::ptrdiff_t n = DecodeField(U(b) + at, len, prefixes, out.data(), out.size());
      EXPECT_GE(n, 0);
      if (n > 0) total += static_cast<std::size_t>(n);
    }
    return total;
  }

  std::size_t DataPackets() const {
    const std::string types = KermitLink::Types(link.sentByA);
    return static_cast<std::size_t>(std::count(types.begin(), types.end(), 'D'));
  }

  bool ReportedReceived(const std::string& name) const {
    return ::ReportedReceived(recvLog, dst, name);
  }

  // Sends Name until the receiver has taken Cut D packets, then closes both ends' line:
  // the receiver keeps what it got.
  void CutAfter(const std::string& name, std::size_t cut) {
    std::size_t data = 0;
    bool closed = false;
    link.filter = [&](bool aToB, const std::string& block) -> std::string {
      if (closed) return {};
      if (aToB && block.size() > 3 && block[kTypePos] == 'D' && ++data > cut) {
        closed = true;
        return {};
      }
      return block;
    };
    sender.SendFiles(src + "/" + name);
    ASSERT_TRUE(WaitUntil([&] { return closed; }, 60000));
    receiver.ResetPackets();
    sender.ResetPackets();
    QCoreApplication::processEvents();
    link.filter = nullptr;
    link.sentByA.clear();
    link.sentByB.clear();
  }

  std::string src, dst;
  TvxKermit sender, receiver;
  TvxTestLog sendLog, recvLog;
  KermitLink link{&sender, &receiver};
  std::vector<std::string> senderFatal, receiverFatal;
  int recoveryFailures = 0;
};

std::string CaseName(const ::testing::TestParamInfo<RecoveryCase>& info) {
  return std::string(info.param.longPackets ? "long" : "classic") +
         (info.param.repeatCounts ? "_repeat" : "");
}

}  // namespace

// The user's case: a transfer cut half-way (the line closed), then resent. The file ends
// identical, and only what the receiver did not hold crossed the line.
TEST_P(KermitRecovery, ACutTransferResentEndsIdenticalWithOnlyTheRestSent) {
  const std::string bytes = RandomBytes(150 * 1024 + 17, 13) + std::string(5000, 'x');
  WriteAll(src + "/cut.bin", bytes);
  CutAfter("cut.bin", GetParam().longPackets ? 24 : 700);
  EXPECT_FALSE(ReportedReceived("cut.bin"));
  // The part is kept hidden, never under the name of a finished file.
  EXPECT_FALSE(Exists(dst + "/cut.bin"));
  const std::string part = ReadAll(dst + "/.cut.bin.vxpart");
  ASSERT_GT(part.size(), 0u);
  ASSERT_LT(part.size(), bytes.size());
  ASSERT_EQ(part, bytes.substr(0, part.size()));

  sendLog.ClearLog();
  recvLog.ClearLog();
  senderFatal.clear();
  receiverFatal.clear();
  sender.ResendFiles(src + "/cut.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
  EXPECT_TRUE(receiverFatal.empty()) << receiverFatal.front();
  EXPECT_TRUE(sender.RecoveryAgreed());
  EXPECT_TRUE(receiver.RecoveryAgreed());
  EXPECT_TRUE(ReadAll(dst + "/cut.bin") == bytes);
  EXPECT_FALSE(Exists(dst + "/.cut.bin.vxpart"));
  EXPECT_TRUE(ReportedReceived("cut.bin"));
  EXPECT_EQ(sender.RecoveredLength(), static_cast<std::int64_t>(part.size()));
  EXPECT_EQ(receiver.RecoveredLength(), static_cast<std::int64_t>(part.size()));
  EXPECT_EQ(PayloadSent(), bytes.size() - part.size());
  std::printf("cut at %zu of %zu bytes; resent %zu bytes in %zu D packets\n", part.size(),
              bytes.size(), PayloadSent(), DataPackets());
}

// Nothing held: the whole file crosses, and arrives identical.
TEST_P(KermitRecovery, AResendOfAFileTheReceiverDoesNotHoldSendsItAll) {
  const std::string bytes = RandomBytes(40 * 1024 + 3, 5);
  WriteAll(src + "/new.bin", bytes);
  sender.ResendFiles(src + "/new.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
  EXPECT_TRUE(ReadAll(dst + "/new.bin") == bytes);
  EXPECT_TRUE(ReportedReceived("new.bin"));
  EXPECT_EQ(sender.RecoveredLength(), 0);
  EXPECT_EQ(PayloadSent(), bytes.size());
}

// The whole file held: no data crosses, and the file is reported received as it is.
TEST_P(KermitRecovery, AReceiverThatHoldsTheWholeFileGetsNoData) {
  const std::string bytes = RandomBytes(30 * 1024, 6);
  WriteAll(src + "/whole.bin", bytes);
  WriteAll(dst + "/whole.bin", bytes);
  sender.ResendFiles(src + "/whole.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
  EXPECT_TRUE(ReadAll(dst + "/whole.bin") == bytes);
  EXPECT_TRUE(ReportedReceived("whole.bin"));
  EXPECT_EQ(DataPackets(), 0u);
}

// Several files, some held in part, some not at all: each ends identical, and only what was
// missing crossed.
TEST_P(KermitRecovery, SeveralFilesEachResumeWhereTheirCopyEnds) {
  const std::string a = RandomBytes(20 * 1024 + 1, 21), b = RandomBytes(9000, 22),
                    c = RandomBytes(12345, 23);
  WriteAll(src + "/a.bin", a);
  WriteAll(src + "/b.bin", b);
  WriteAll(src + "/c.bin", c);
  WriteAll(dst + "/a.bin", a.substr(0, 7777));
  WriteAll(dst + "/c.bin", c.substr(0, 1));
  sender.ResendFiles(src + "/*.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
  EXPECT_TRUE(ReadAll(dst + "/a.bin") == a);
  EXPECT_TRUE(ReadAll(dst + "/b.bin") == b);
  EXPECT_TRUE(ReadAll(dst + "/c.bin") == c);
  EXPECT_EQ(PayloadSent(), (a.size() - 7777) + b.size() + (c.size() - 1));
}

// A copy longer than the file announced cannot be a part of it: with the exact length
// announced the receiver takes the file whole instead, and it ends identical.
TEST_P(KermitRecovery, ACopyLongerThanAnnouncedIsReplacedWhole) {
  const std::string bytes = RandomBytes(20000, 7);
  WriteAll(src + "/long.bin", bytes);
  WriteAll(dst + "/long.bin", bytes + RandomBytes(5000, 8));
  sender.ResendFiles(src + "/long.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
  EXPECT_TRUE(ReadAll(dst + "/long.bin") == bytes);
  EXPECT_TRUE(ReportedReceived("long.bin"));
  EXPECT_EQ(receiver.RecoveredLength(), 0);
  EXPECT_EQ(PayloadSent(), bytes.size());
}

// Without the exact length the receiver reports the longer copy as held: the sender cannot
// resend it, ends the session with an error, and the receiver's copy stays as it was,
// never reported received.
TEST_P(KermitRecovery, AReportedLengthAboveTheFilesSizeEndsWithAnError) {
  const std::string bytes = RandomBytes(20000, 9);
  const std::string longer = bytes + RandomBytes(3000, 10);
  sender.SetExactLength(false);
  WriteAll(src + "/f.bin", bytes);
  WriteAll(dst + "/f.bin", longer);
  sender.ResendFiles(src + "/f.bin");
  ASSERT_TRUE(RunSession());
  ASSERT_EQ(senderFatal.size(), 1u);
  EXPECT_EQ(recoveryFailures, 1);
  EXPECT_NE(senderFatal.front().find("more than its 20000"), std::string::npos)
      << senderFatal.front();
  EXPECT_TRUE(ReadAll(dst + "/f.bin") == longer);
  EXPECT_FALSE(ReportedReceived("f.bin"));
  EXPECT_EQ(DataPackets(), 0u);
  // The receiver was told why (the message cut to one packet).
  const std::string told =
      "vxKermit: Transfer aborted. Remote end reports fatal error: The "
      "receiver holds 23000 bytes";
  const auto entries = recvLog.Entries();
  EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                          [&](const std::string& e) { return e.rfind(told, 0) == 0; }));
}

// A reply that cannot be read (here cut short on the way) ends the session with an error:
// no data goes to a receiver that appends to what it holds.
TEST_P(KermitRecovery, AnUnreadableReportedLengthEndsWithAnError) {
  const std::string bytes = RandomBytes(20000, 11);
  WriteAll(src + "/u.bin", bytes);
  WriteAll(dst + "/u.bin", bytes.substr(0, 12345));
  link.filter = [&](bool aToB, const std::string& block) -> std::string {
    // The acknowledgement of the A packet, rebuilt with a length that claims more digits
    // than it has.
    if (aToB || block.size() < 6 || block[kTypePos] != 'Y' || block[kDataPos] != '1') return block;
    const std::string bad = "1%123";
    std::uint8_t out[kPacketImageSize];
    const auto seq = static_cast<unsigned>(UnChar(static_cast<std::uint8_t>(block[kSeqPos])));
    const std::size_t n = FramePacket(out, 'Y', seq, U(bad), bad.size(), 2);
    return std::string(reinterpret_cast<const char*>(out), n);
  };
  sender.ResendFiles(src + "/u.bin");
  ASSERT_TRUE(RunSession());
  ASSERT_EQ(senderFatal.size(), 1u);
  EXPECT_EQ(recoveryFailures, 1);
  EXPECT_EQ(DataPackets(), 0u);
  EXPECT_TRUE(ReadAll(dst + "/u.bin") == bytes.substr(0, 12345));
  EXPECT_FALSE(ReportedReceived("u.bin"));
}

// The acknowledgement of the A packet lost: the sender repeats the A, the receiver answers
// it again with the same length, and nothing is appended twice.
TEST_P(KermitRecovery, ALostReplyIsAnsweredAgainWithTheSameLength) {
  const std::string bytes = RandomBytes(30000, 12);
  WriteAll(src + "/r.bin", bytes);
  WriteAll(dst + "/r.bin", bytes.substr(0, 10000));
  bool dropped = false;
  link.filter = [&](bool aToB, const std::string& block) -> std::string {
    if (!aToB && !dropped && block.size() > 6 && block[kTypePos] == 'Y' && block[kDataPos] == '1') {
      dropped = true;
      return {};
    }
    return block;
  };
  sender.ResendFiles(src + "/r.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(dropped);
  EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
  EXPECT_TRUE(ReadAll(dst + "/r.bin") == bytes);
  EXPECT_EQ(PayloadSent(), bytes.size() - 10000);
}

// A receiver that does not offer recovery: the files are sent whole, the receiver replaces
// its copy, and the file ends identical.
TEST_P(KermitRecovery, APeerWithoutRecoveryGetsTheWholeFile) {
  receiver.SetRecovery(false);
  const std::string bytes = RandomBytes(25000, 14);
  WriteAll(src + "/p.bin", bytes);
  WriteAll(dst + "/p.bin", bytes.substr(0, 20000) + "garbage beyond the part");
  sender.ResendFiles(src + "/p.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
  EXPECT_FALSE(sender.RecoveryAgreed());
  EXPECT_TRUE(sendLog.Has("vxKermit: The peer does not offer recovery: files are sent whole."));
  EXPECT_TRUE(ReadAll(dst + "/p.bin") == bytes);
  EXPECT_EQ(PayloadSent(), bytes.size());
  // No "+R" went out.
  for (const std::string& b : link.sentByA)
    if (b.size() > 4 && b[kTypePos] == 'A') {
      EXPECT_EQ(b.find("+!R"), std::string::npos);
    }
}

// A receiver with recovery that is sent a file the usual way (no "+R"), or by a sender that
// sends no attributes at all: its existing copy is replaced, never appended to.
TEST_P(KermitRecovery, AnExistingCopyIsReplacedWhenTheSenderDoesNotResend) {
  const std::string bytes = RandomBytes(25000, 15);
  const std::string old = RandomBytes(40000, 16);
  WriteAll(src + "/s.bin", bytes);
  for (bool attributes : {true, false}) {
    SCOPED_TRACE(attributes);
    WriteAll(dst + "/s.bin", old);
    link.sentByA.clear();
    bool rewritten = false;
    // The receiver's answer to the Send-Init rebuilt without the attribute capability.
    link.filter = [&](bool aToB, const std::string& block) -> std::string {
      if (attributes || rewritten || aToB || block.size() < 6 || block[kTypePos] != 'Y' ||
          block[kSeqPos] != static_cast<char>(ToChar(0)))
        return block;
      rewritten = true;
      std::string field =
          block.substr(kDataPos, UnChar(static_cast<std::uint8_t>(block[kLenPos])) - 3);
      field[ipCapas] = static_cast<char>(
          ToChar(static_cast<unsigned>(UnChar(static_cast<std::uint8_t>(field[ipCapas]))) &
                 ~static_cast<unsigned>(kCapasAttributes)));
      std::uint8_t out[kPacketImageSize];
      const std::size_t n = FramePacket(out, 'Y', 0, U(field), field.size(), 0);
      return std::string(reinterpret_cast<const char*>(out), n);
    };
    sender.SendFiles(src + "/s.bin");
    ASSERT_TRUE(RunSession());
    EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
    EXPECT_TRUE(receiver.RecoveryAgreed());
    EXPECT_TRUE(ReadAll(dst + "/s.bin") == bytes);
    EXPECT_EQ(KermitLink::Types(link.sentByA).find('A') != std::string::npos, attributes);
  }
}

INSTANTIATE_TEST_SUITE_P(Packets, KermitRecovery,
                         ::testing::Values(RecoveryCase{false, false}, RecoveryCase{true, true}),
                         CaseName);

// Off by default: the Send-Init, the A packet and its acknowledgement are as they were.
TEST(KermitRecoveryDefaults, OffByDefaultNothingChanges) {
  const std::string src = MakeTempDir("kr-def-src"), dst = MakeTempDir("kr-def-dst");
  TvxKermit sender, receiver;
  EXPECT_FALSE(sender.Recovery());
  KermitLink link(&sender, &receiver);
  for (TvxKermit* k : {&sender, &receiver}) {
    k->SetActive(true);
    k->SetTimeout(1000);
  }
  receiver.SetDefaultPath(dst);
  const std::string bytes = RandomBytes(3000, 1);
  WriteAll(src + "/d.bin", bytes);
  WriteAll(dst + "/d.bin", bytes.substr(0, 1000));
  sender.SendFiles(src + "/d.bin");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return !link.sentByA.empty() && sender.State() == fsListen && receiver.State() == fsListen;
      },
      30000));
  EXPECT_TRUE(ReadAll(dst + "/d.bin") == bytes);
  ASSERT_GE(link.sentByA.size(), 3u);
  ASSERT_GE(link.sentByB.size(), 3u);
  // The classic proposal, CAPAS with attributes only; the answer the same.
  const std::string init = link.sentByA[0];
  const TInitBlock classic = MakeInitBlock(OwnProposal(1000, 0, 'Y'), 0);
  EXPECT_EQ(init.substr(kDataPos, init.size() - kDataPos - 2),
            std::string(reinterpret_cast<const char*>(classic.data()), classic.size));
  EXPECT_EQ(link.sentByB[0][kDataPos + ipCapas], static_cast<char>(ToChar(kCapasAttributes)));
  // The A packet's acknowledgement is empty.
  EXPECT_EQ(link.sentByA[2][kTypePos], 'A');
  EXPECT_EQ(UnChar(static_cast<std::uint8_t>(link.sentByB[2][kLenPos])), 3);
  EXPECT_FALSE(sender.RecoveryAgreed());

  // ResendFiles offers the capability even so; a receiver without it gets the file whole.
  link.sentByA.clear();
  link.sentByB.clear();
  sender.ResendFiles(src + "/d.bin");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return !link.sentByA.empty() && sender.State() == fsListen && receiver.State() == fsListen;
      },
      30000));
  EXPECT_TRUE(UnChar(static_cast<std::uint8_t>(link.sentByA[0][kDataPos + ipCapas])) &
              kCapasResend);
  EXPECT_FALSE(UnChar(static_cast<std::uint8_t>(link.sentByB[0][kDataPos + ipCapas])) &
               kCapasResend);
  EXPECT_TRUE(ReadAll(dst + "/d.bin") == bytes);
}
