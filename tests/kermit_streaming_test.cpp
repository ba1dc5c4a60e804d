// Streaming on links both sides declare reliable: the WHATAMI field built and read, two
// components back to back that stream only when both declare the link reliable (and then
// acknowledge no D packet), and a damaged or lost D packet that ends the session with an
// error on both sides, never with the file reported received.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/ptypair.h"
#include "support/testlog.h"
#include "support/testseed.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

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
  const std::size_t sent = KermitLink::Types(link.sentByA).size();
  ASSERT_GT(data, 10u);
  EXPECT_EQ(Count(link.sentByB, 'N'), 0u);
  if (agreed)
    EXPECT_EQ(acks, sent - data);
  else
    EXPECT_EQ(acks, sent);
}

// Streamed D packets are as long as both sides agreed (no acknowledgement ever shortens
// them) and leave in blocks of many packets, not one write each.
TEST_P(KermitStreamingEngine, StreamedPacketsAreAsLongAsAgreedAndGoInBlocks) {
  const StreamCase c = GetParam();
  WriteAll(src + "/random.bin", RandomBytes(1024 * 1024, 7));
  sender.SetCrc(crc16bit);
  sender.SendFiles(src + "/random.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(senderFatal.empty()) << senderFatal.front();
  EXPECT_TRUE(ReadAll(dst + "/random.bin") == ReadAll(src + "/random.bin"));
  EXPECT_TRUE(ReportedReceived("random.bin"));
  std::vector<std::size_t> lengths;
  std::size_t dataBlocks = 0;
  for (const auto& block : link.sentByA) {
    bool holdsData = false;
    for (const auto& p : KermitLink::Packets(block))
      if (p.size() > 3 && p[3] == 'D') {
        lengths.push_back(p.size());
        holdsData = true;
      }
    if (holdsData) ++dataBlocks;
  }
  ASSERT_GT(lengths.size(), 2u);
  const bool streams = c.senderReliable && c.receiverReliable;
  // Every D packet but the file's last fills what was agreed: up to 9024 with long packets
  // (MARK, the header and the check within a few bytes), 94 without.
  const std::size_t full = c.longPackets ? 9000 : 90;
  if (streams || !c.longPackets) {
    for (std::size_t i = 0; i + 1 < lengths.size(); ++i) {
      ASSERT_GE(lengths[i], full) << i;
    }
  }
  if (streams) {
    EXPECT_LT(dataBlocks * 4, lengths.size());
  }
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
  const unsigned seed = TestSeed("KermitStreamingFault");
  SCOPED_TRACE(seed);
  std::mt19937 gen(seed);
  WriteAll(src + "/random.bin", RandomBytes(300 * 1024, seed));
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    // The D packet hit, counted from the first one.
    const std::size_t victim = 1 + gen() % 20;
    std::size_t dataSeen = 0;
    // Streamed packets leave many to a block: the fault hits one packet inside it.
    link.filter = [&](bool aToB, const std::string& block) -> std::string {
      if (!aToB) return block;
      std::string out;
      for (const std::string& packet : KermitLink::Packets(block)) {
        if (packet.size() < 4 || packet[3] != 'D' || ++dataSeen != victim) {
          out += packet;
        } else if (fault == 0) {
          std::string damaged = packet;
          const std::size_t at = 4 + gen() % (packet.size() - 6);
          damaged[at] = static_cast<char>(damaged[at] ^ (1 << (gen() % 7)));
          out += damaged;
        } else if (fault == 2) {
          out += packet + packet;
        }
      }
      return out;
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
    link.filter = nullptr;
    // What the ended session still had on its way (and the E the receiver answers each such
    // packet with) is over before the next session starts.
    for (std::size_t seen = SIZE_MAX; seen != link.sentByA.size() + link.sentByB.size();) {
      seen = link.sentByA.size() + link.sentByB.size();
      WaitUntil([] { return false; }, 100);
    }
    link.sentByA.clear();
    link.sentByB.clear();
  }
}

INSTANTIATE_TEST_SUITE_P(Sides, KermitStreamingFault,
                         ::testing::Values(StreamCase{true, true, true},
                                           StreamCase{true, true, false}),
                         CaseName);

namespace {

// A medium that takes what is sent at once and hands it to the receiving component only at
// BytesPerTick every TickMs, from the event loop, as a slow line does; its output queue is
// what it still holds.
class SlowLine : public TvxBaseIO {
 public:
  SlowLine(TvxKermit* to, std::size_t bytesPerTick, int tickMs) : to_(to), per_tick_(bytesPerTick) {
    QObject::connect(&tick_, &QTimer::timeout, [this] { Carry(); });
    tick_.start(tickMs);
  }
  ~SlowLine() override { Destroying(); }

  void SendData(const void* buffer, Cardinal len) override {
    held_.append(static_cast<const char*>(buffer), len);
    peak_ = std::max(peak_, held_.size());
  }
  Cardinal OutQueueCount() override { return static_cast<Cardinal>(held_.size()); }
  void PurgeOut() override { held_.clear(); }
  // Open from its creation: a Kermit component sends only on an open medium.
  bool IsOpen() const override { return true; }
  std::size_t Peak() const { return peak_; }

 private:
  void Carry() {
    if (held_.empty() || !to_) return;
    const std::string block = held_.substr(0, per_tick_);
    held_.erase(0, block.size());
    to_->DataReceived(block.data(), static_cast<Cardinal>(block.size()));
  }

  QPointer<TvxKermit> to_;
  std::size_t per_tick_;
  std::string held_;  // main thread, as every member
  std::size_t peak_ = 0;
  QTimer tick_;
};

}  // namespace

// A streaming sender on a line far slower than it: the file takes seconds to cross against
// a time-out of a fraction of one, yet nothing times out, because the silence is timed only
// once nothing of the sender's waits to leave; and the sender queues a burst only once the
// queue has drained below its bound.
TEST(KermitStreamingPace, TheSilenceTimerWaitsForTheOutputQueue) {
  const std::string src = MakeTempDir("ks-pace-src");
  const std::string dst = MakeTempDir("ks-pace-dst");
  WriteAll(src + "/random.bin", RandomBytes(512 * 1024, 11));
  TvxKermit sender, receiver;
  TvxTestLog recvLog;
  recvLog.detailLevel = dlDebug;
  receiver.SetLog(&recvLog);
  std::vector<std::string> fatal;
  for (TvxKermit* k : {&sender, &receiver}) {
    k->SetActive(true);
    k->SetStreaming(true);
    k->SetLongPackets(true);
    k->SetAdaptiveTimeout(true);
    k->SetTimeout(300);
    k->OnFatalError = [&](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
      raise = false;
      fatal.push_back(msg);
    };
  }
  receiver.SetDefaultPath(dst);
  // About 200 KB/s: the file needs over two seconds, the time-out is 300 ms.
  SlowLine line(&receiver, 2048, 10);
  line.SetDataProcessor(&sender);
  receiver.OnDataSend = [&](TObject*, const void* data, Cardinal len, bool, bool& handled) {
    handled = true;
    const std::string block(static_cast<const char*>(data), len);
    QTimer::singleShot(0, &sender, [&sender, block] {
      sender.DataReceived(block.data(), static_cast<Cardinal>(block.size()));
    });
  };
  bool agreed = false;
  sender.OnFileStart = [&](TObject*) { agreed = sender.StreamingAgreed(); };
  sender.SendFiles(src + "/random.bin");
  ASSERT_TRUE(
      WaitUntil([&] { return sender.State() == fsListen && receiver.State() == fsListen; }, 60000));
  EXPECT_TRUE(agreed);
  EXPECT_TRUE(fatal.empty()) << fatal.front();
  EXPECT_EQ(sender.ErrorCount(), 0);
  EXPECT_TRUE(ReadAll(dst + "/random.bin") == ReadAll(src + "/random.bin"));
  EXPECT_TRUE(ReportedReceived(recvLog, dst, "random.bin"));
  // The queue backed up, and never beyond the bound, one burst and one packet.
  EXPECT_GE(line.Peak(), TvxKermit::StreamQueueBytes);
  EXPECT_LE(line.Peak(), TvxKermit::StreamQueueBytes + TvxKermit::StreamBurstBytes + 9100);
  line.SetDataProcessor(nullptr);
}
