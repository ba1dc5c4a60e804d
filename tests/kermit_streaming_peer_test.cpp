// Streaming against ckermit over a linked pty pair through the real TvxComm: with ckermit
// told the link is reliable (set reliable on, set streaming on, or both) and our side
// declaring it reliable too, both directions stream and every file arrives byte-identical;
// with our side not declaring it, the session falls back to acknowledged packets. What our
// side agreed is checked, so the test fails if streaming silently stops being used. Then
// the same over a paced line, slow enough that our output queue backs up far beyond the
// time-out. The rate of a 32 MiB file is printed, not asserted.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/faultyline.h"
#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/kermitside.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;

namespace {

constexpr int kPeerLimitSec = 120;
constexpr int kPort = 139;
constexpr const char* kReliable = "set reliable on, set streaming on";

struct StreamPeerCase {
  const char* name;
  bool oursReliable;
  const char* ckermit;  // what ckermit is told of the link
};

// Our side as the streaming cases run it: long packets and repeat counts offered, streaming
// declared when Reliable; Agreed and Files follow each file's start.
void ConfigureSide(KermitSide& ours, bool reliable, bool& agreed, int& files) {
  ours.kermit.SetLongPackets(true);
  ours.kermit.SetRepeatCounts(true);
  ours.kermit.SetStreaming(reliable);
  ours.kermit.OnFileStart = [&ours, &agreed, &files](TObject*) {
    agreed = ours.kermit.StreamingAgreed();
    ++files;
  };
}

class KermitStreamingPeer : public ::testing::TestWithParam<StreamPeerCase> {
 protected:
  void SetUp() override {
    src = MakeTempDir("speer-src");
    dst = MakeTempDir("speer-dst");
    names = WriteStandardSet(src, 1024 * 1024);
    WriteAll(src + "/big.bin", RandomBytes(32 * 1024 * 1024, 13));
    names.push_back("big.bin");
  }

  void Configure(KermitSide& ours) { ConfigureSide(ours, GetParam().oursReliable, agreed, files); }

  void ExpectSameFiles() {
    for (const auto& n : names) {
      ASSERT_TRUE(Exists(dst + "/" + n)) << n;
      EXPECT_TRUE(ReadAll(dst + "/" + n) == ReadAll(src + "/" + n)) << n;
    }
  }

  void PrintRate(const char* direction, qint64 ms) const {
    std::size_t bytes = 0;
    for (const auto& n : names) bytes += ReadAll(src + "/" + n).size();
    std::printf("%s %s: %zu bytes in %lld ms, %.1f MB/s\n", GetParam().name, direction, bytes,
                static_cast<long long>(ms), ms > 0 ? bytes / 1000.0 / static_cast<double>(ms) : 0);
  }

  std::vector<std::string> Paths() const {
    std::vector<std::string> p;
    for (const auto& n : names) p.push_back(src + "/" + n);
    return p;
  }

  std::string src, dst;
  std::vector<std::string> names;
  SocatPair line;
  bool agreed = false;
  int files = 0;
};

std::string CaseName(const ::testing::TestParamInfo<StreamPeerCase>& info) {
  return info.param.name;
}

}  // namespace

TEST_P(KermitStreamingPeer, OursSendsToCKermit) {
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  ours.kermit.SetCrc(crc16bit);
  auto peer =
      KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, kPeerLimitSec, GetParam().ckermit);
  QElapsedTimer clock;
  clock.start();
  ours.kermit.SendFiles(src + "/*");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  const qint64 ms = clock.elapsed();
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  ExpectSameFiles();
  EXPECT_EQ(files, static_cast<int>(names.size()));
  EXPECT_EQ(agreed, GetParam().oursReliable);
  PrintRate("ours to ckermit", ms);
}

TEST_P(KermitStreamingPeer, CKermitSendsToOurs) {
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  ours.kermit.SetDefaultPath(dst);
  std::vector<TvxTransferState> states;
  ours.kermit.OnChangeState = [&](TObject*) { states.push_back(ours.kermit.State()); };
  QElapsedTimer clock;
  clock.start();
  auto peer = KermitPeer::Send(KermitPeer::CKermit, line.B(), Paths(), src, kPeerLimitSec,
                               std::string("set block-check 3, ") + GetParam().ckermit);
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  const qint64 ms = clock.elapsed();
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_EQ(states, (std::vector<TvxTransferState>{fsReceive, fsListen}));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  ExpectSameFiles();
  EXPECT_EQ(files, static_cast<int>(names.size()));
  EXPECT_EQ(agreed, GetParam().oursReliable);
  PrintRate("ckermit to ours", ms);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, KermitStreamingPeer,
    ::testing::Values(StreamPeerCase{"ours_reliable", true, kReliable},
                      StreamPeerCase{"ours_reliable_ck_streaming", true, "set streaming on"},
                      StreamPeerCase{"ours_reliable_ck_reliable", true, "set reliable on"},
                      StreamPeerCase{"ours_not_reliable", false, kReliable}),
    CaseName);

namespace {

// A line of 1,000,000 baud between USB adapters (100 KB/s): a 1 MiB file takes about ten
// seconds, while everything our side sends is queued in a few milliseconds.
class KermitStreamingPacedPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    src = MakeTempDir("spaced-src");
    dst = MakeTempDir("spaced-dst");
    WriteAll(src + "/paced.bin", RandomBytes(1024 * 1024, 17));
  }

  void Configure(KermitSide& ours) {
    ConfigureSide(ours, true, agreed, files);
    // As vxkermit runs it: the reply wait follows the round trip, which a burst of data
    // queued ahead of the Z would outlast many times over.
    ours.kermit.SetAdaptiveTimeout(true);
    ours.kermit.SetTimeout(5000);
  }

  void ExpectSameFile(KermitSide& ours) {
    EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
    EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
    EXPECT_TRUE(agreed);
    EXPECT_EQ(files, 1);
    ASSERT_TRUE(Exists(dst + "/paced.bin"));
    EXPECT_TRUE(ReadAll(dst + "/paced.bin") == ReadAll(src + "/paced.bin"));
  }

  std::string src, dst;
  FaultyLine line{FaultRates{}, LinePacing::Adapter(1000000, std::chrono::microseconds(1000)),
                  FaultyLine::SeedFromEnvironment()};
  bool agreed = false;
  int files = 0;
};

}  // namespace

TEST_F(KermitStreamingPacedPeer, OursSendsToCKermit) {
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, kPeerLimitSec, kReliable);
  ours.kermit.SendFiles(src + "/paced.bin");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  ExpectSameFile(ours);
}

TEST_F(KermitStreamingPacedPeer, CKermitSendsToOurs) {
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  ours.kermit.SetDefaultPath(dst);
  auto peer = KermitPeer::Send(KermitPeer::CKermit, line.B(), {src + "/paced.bin"}, src,
                               kPeerLimitSec, kReliable);
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  ExpectSameFile(ours);
}
