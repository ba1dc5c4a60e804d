// Streaming on links both sides declare reliable: the WHATAMI field built and read, two
// components back to back that stream only when both declare the link reliable (and then
// acknowledge no D packet), and a damaged or lost D packet that ends the session with an
// error on both sides, never with the file reported received.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/ptypair.h"
#include "support/testlog.h"
#include "vxkermit.h"
#include "vxkermit/packet.h"
#include "vxkermit/sendinit.h"

using namespace vxkermit;
using namespace kermitfiles;

namespace {

std::string Block(const TInitBlock& b) {
  return {reinterpret_cast<const char*>(b.data()), b.size};
}

}  // namespace

TEST(KermitStreamingInit, WithoutWhatamiTheBlockIsUnchanged) {
  const TInitParams p = OwnProposal(5000, 2, 'Y');
  EXPECT_EQ(Block(MakeInitBlock(p, 0)), Block(MakeInitBlock(p, 0, 0)));
  EXPECT_EQ(MakeInitBlock(p, 0).size, kInitFieldCount);
  EXPECT_EQ(MakeInitBlock(p, 9024).size, kInitFieldCount + 3);
}

TEST(KermitStreamingInit, WhatamiFollowsTheCheckpointFieldsAndReadsBack) {
  const TInitParams p = OwnProposal(5000, 2, 'Y');
  for (std::size_t lp : {std::size_t{0}, std::size_t{9024}}) {
    const std::string b = Block(MakeInitBlock(p, lp, kWhatamiValid | kWhatamiStreaming));
    ASSERT_EQ(b.size(), kInitFieldCount + 8);
    EXPECT_EQ(b.substr(kInitFieldCount + 3, 4), "0___");
    EXPECT_EQ(b.back(), static_cast<char>(ToChar(kWhatamiValid | kWhatamiStreaming)));
    EXPECT_EQ(ReadWhatami(U(b), b.size()), kWhatamiValid | kWhatamiStreaming);
    EXPECT_EQ(ReadLongPacketLength(U(b), b.size()), lp == 0 ? 0u : lp);
    // The attribute capability stays offered.
    EXPECT_TRUE(UnChar(static_cast<std::uint8_t>(b[ipCapas])) & kCapasAttributes);
    // A block cut before WHATAMI says nothing.
    for (std::size_t n = 0; n < b.size(); ++n) EXPECT_EQ(ReadWhatami(U(b), n), 0) << n;
  }
}

TEST(KermitStreamingInit, ReadsAPeersBlockWithItsCapabilities) {
  // A block as a widely used peer sends it declaring the link reliable, then not.
  const std::string reliable = "~/ @-#Y3~^>J)0___J\"U1";
  const std::string plain = "~/ @-#Y3~^>J)0___B\"U1";
  EXPECT_TRUE(ReadWhatami(U(reliable), reliable.size()) & kWhatamiStreaming);
  EXPECT_FALSE(ReadWhatami(U(plain), plain.size()) & kWhatamiStreaming);
  EXPECT_NE(ReadWhatami(U(plain), plain.size()), 0);
  // Without the valid bit, with a byte out of range, or with a CAPAS chain that runs off the
  // end: nothing.
  std::string invalid = reliable;
  invalid[17] = static_cast<char>(ToChar(kWhatamiStreaming));
  EXPECT_EQ(ReadWhatami(U(invalid), invalid.size()), 0);
  for (int v : {0, 31, 96, 127, 200, 255}) {
    std::string hostile = reliable;
    hostile[17] = static_cast<char>(v);
    EXPECT_EQ(ReadWhatami(U(hostile), hostile.size()), 0) << v;
  }
  const std::string chain(40, static_cast<char>(ToChar(kCapasMore | kCapasLongPackets)));
  EXPECT_EQ(ReadWhatami(U(chain), chain.size()), 0);
}

namespace {

struct StreamCase {
  bool senderReliable, receiverReliable, longPackets;
};

class KermitStreamingEngine : public ::testing::TestWithParam<StreamCase> {
 protected:
  void SetUp() override {
    src = MakeTempDir("ks-src");
    dst = MakeTempDir("ks-dst");
    recvLog.detailLevel = dlDebug;
    receiver.SetLog(&recvLog);
    sender.SetLog(&sendLog);
    for (TvxKermit* k : {&sender, &receiver}) {
      k->SetActive(true);
      k->SetTimeout(2000);
      k->OnFatalError = [this, k](TObject*, Cardinal, Cardinal detail, const std::string& msg,
                                  bool& raise) {
        raise = false;
        (k == &sender ? senderFatal : receiverFatal).push_back(msg);
        if (detail == TvxKermit::kStreamingFailure) ++streamingFailures;
      };
      k->SetLongPackets(GetParam().longPackets);
    }
    sender.SetStreaming(GetParam().senderReliable);
    receiver.SetStreaming(GetParam().receiverReliable);
    receiver.SetDefaultPath(dst);
    sender.OnFileStart = [this](TObject*) { senderAgreed = sender.StreamingAgreed(); };
    receiver.OnFileStart = [this](TObject*) { receiverAgreed = receiver.StreamingAgreed(); };
  }
  void TearDown() override {
    sender.OnFileStart = nullptr;
    receiver.OnFileStart = nullptr;
  }

  bool RunSession() { return link.WaitForSessionEnd(60000); }

  std::size_t Count(const std::vector<std::string>& blocks, char type) const {
    return KermitLink::Count(blocks, type);
  }

  bool ReportedReceived(const std::string& name) const {
    return ::ReportedReceived(recvLog, dst, name);
  }

  std::string src, dst;
  TvxKermit sender, receiver;
  TvxTestLog sendLog, recvLog;
  KermitLink link{&sender, &receiver};
  std::vector<std::string> senderFatal, receiverFatal;
  int streamingFailures = 0;
  bool senderAgreed = false, receiverAgreed = false;
};

std::string CaseName(const ::testing::TestParamInfo<StreamCase>& info) {
  const StreamCase& c = info.param;
  return std::string(c.senderReliable ? "R" : "u") + "_to_" + (c.receiverReliable ? "R" : "u") +
         (c.longPackets ? "_long" : "_classic");
}

}  // namespace

TEST_P(KermitStreamingEngine, StreamsOnlyWhenBothDeclareTheLinkReliable) {
  const StreamCase c = GetParam();
  const auto names = WriteStandardSet(src, 200 * 1024 + 7);
  sender.SetCrc(crc16bit);
  sender.SendFiles(src + "/*");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
  EXPECT_TRUE(receiverFatal.empty()) << receiverFatal.front();
  for (const auto& n : names) {
    EXPECT_TRUE(ReadAll(dst + "/" + n) == ReadAll(src + "/" + n)) << n;
    EXPECT_TRUE(ReportedReceived(n)) << n;
  }
  const bool agreed = c.senderReliable && c.receiverReliable;
  EXPECT_EQ(senderAgreed, agreed);
  EXPECT_EQ(receiverAgreed, agreed);
  // Streaming: every packet but the D packets is acknowledged, and none of those.
  const std::size_t data = Count(link.sentByA, 'D');
  const std::size_t acks = Count(link.sentByB, 'Y');
  ASSERT_GT(data, 10u);
  EXPECT_EQ(Count(link.sentByB, 'N'), 0u);
  if (agreed)
    EXPECT_EQ(acks, link.sentByA.size() - data);
  else
    EXPECT_EQ(acks, link.sentByA.size());
}

INSTANTIATE_TEST_SUITE_P(Sides, KermitStreamingEngine,
                         ::testing::Values(StreamCase{true, true, true},
                                           StreamCase{true, true, false},
                                           StreamCase{true, false, true},
                                           StreamCase{false, true, true},
                                           StreamCase{false, false, true}),
                         CaseName);

namespace {

class KermitStreamingFault : public KermitStreamingEngine {};

}  // namespace

// A D packet damaged, lost or sent twice on a link declared reliable: the session ends with
// an error on both sides (the receiver's fatal error, the sender told by an E), and the file
// is never reported received.
TEST_P(KermitStreamingFault, AnyFaultOnAStreamingLinkEndsTheSession) {
  const unsigned seed = std::random_device{}();
  std::printf("KermitStreamingFault seed %u\n", seed);
  SCOPED_TRACE(seed);
  std::mt19937 gen(seed);
  WriteAll(src + "/random.bin", RandomBytes(300 * 1024, seed));
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    // The D packet hit, counted from the first one.
    const std::size_t victim = 1 + gen() % 20;
    std::size_t dataSeen = 0;
    link.filter = [&](bool aToB, const std::string& block) -> std::string {
      if (!aToB || block.size() < 4 || block[3] != 'D') return block;
      if (++dataSeen != victim) return block;
      if (fault == 0) {
        std::string damaged = block;
        const std::size_t at = 4 + gen() % (block.size() - 6);
        damaged[at] = static_cast<char>(damaged[at] ^ (1 << (gen() % 7)));
        return damaged;
      }
      if (fault == 1) return {};
      return block + block;
    };
    senderFatal.clear();
    receiverFatal.clear();
    streamingFailures = 0;
    sender.SendFiles(src + "/random.bin");
    ASSERT_TRUE(RunSession());
    EXPECT_TRUE(senderAgreed);
    EXPECT_FALSE(ReportedReceived("random.bin"));
    EXPECT_EQ(receiverFatal.size(), 1u);
    EXPECT_EQ(streamingFailures, 1);
    EXPECT_TRUE(sendLog.Has("vxKermit: Transfer aborted. Remote end reports fatal error: " +
                            (receiverFatal.empty() ? std::string() : receiverFatal.front())))
        << (receiverFatal.empty() ? "" : receiverFatal.front());
    // Nothing was repeated or refused: the error ended it at once.
    EXPECT_EQ(Count(link.sentByB, 'N'), 0u);
    link.sentByA.clear();
    link.sentByB.clear();
    link.filter = nullptr;
  }
}

INSTANTIATE_TEST_SUITE_P(Sides, KermitStreamingFault,
                         ::testing::Values(StreamCase{true, true, true},
                                           StreamCase{true, true, false}),
                         CaseName);
