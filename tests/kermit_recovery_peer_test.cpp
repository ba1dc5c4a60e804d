// Recovery against ckermit over a linked pty pair through the real TvxComm, with long
// packets: a transfer to ckermit stopped half-way by killing ckermit, then completed by our
// ResendFiles; a transfer from ckermit stopped half-way by cutting our line, then completed
// by ckermit's resend. Each file ends identical, and ckermit's own count of the file bytes
// it moved (\v(tfsize)) shows that only the rest crossed.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

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
constexpr int kPort = 143;
constexpr std::size_t kFileSize = 8 * 1024 * 1024 + 123;
constexpr std::int64_t kCutAt = 2 * 1024 * 1024;
// ckermit keeps a file it did not get whole (so does our side, always).
constexpr const char* kKeep = "set file incomplete keep";
// After the transfer, the file bytes ckermit moved, for the test to read.
constexpr const char* kReport = "if fail exit 1, echo FILEBYTES \\v(tfsize)";

std::int64_t SizeOf(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<std::int64_t>(size);
}

// The number after FILEBYTES in ckermit's output; -1 when there is none.
long long ReportedBytes(const std::string& output) {
  const std::size_t at = output.find("FILEBYTES ");
  if (at == std::string::npos) return -1;
  return std::atoll(output.c_str() + at + 10);
}

class KermitRecoveryPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    src = MakeTempDir("rpeer-src");
    dst = MakeTempDir("rpeer-dst");
    bytes = RandomBytes(kFileSize, 31);
    WriteAll(src + "/big.bin", bytes);
  }

  void Configure(KermitSide& ours) {
    ours.kermit.SetLongPackets(true);
    ours.kermit.SetRepeatCounts(true);
    ours.kermit.SetExactLength(true);
    ours.kermit.SetRecovery(true);
    ours.kermit.SetCrc(crc16bit);
    ours.kermit.SetTimeout(2000);
  }

  // Closes and reopens our line: a session running on it ends as failed.
  static void CutLine(KermitSide& ours) {
    ours.comm.SetActive(false);
    ours.comm.SetActive(true);
    ASSERT_TRUE(ours.comm.Active());
    ASSERT_EQ(ours.kermit.State(), fsListen);
  }

  std::string src, dst, bytes;
  SocatPair line;
};

}  // namespace

TEST_F(KermitRecoveryPeer, OurResendCompletesAFileCKermitWasKilledReceiving) {
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  const std::string target = dst + "/big.bin";
  {
    auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, kPeerLimitSec, kKeep);
    ours.kermit.SendFiles(src + "/big.bin");
    ASSERT_TRUE(WaitUntil([&] { return SizeOf(target) >= kCutAt; }, kPeerLimitSec * 1000))
        << peer->Output();
    peer->Kill();
    CutLine(ours);
  }
  const std::int64_t part = SizeOf(target);
  ASSERT_GE(part, kCutAt);
  ASSERT_LT(part, static_cast<std::int64_t>(bytes.size()));
  ASSERT_TRUE(ReadAll(target) == bytes.substr(0, static_cast<std::size_t>(part)));
  ours.fatal.clear();

  auto peer = KermitPeer::CKermitRun(line.B(), dst, kPeerLimitSec, kKeep,
                                     std::string("receive, ") + kReport);
  ours.kermit.ResendFiles(src + "/big.bin");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  EXPECT_TRUE(ours.kermit.RecoveryAgreed());
  EXPECT_GT(ours.kermit.LargestPacketSent(), 1000u);
  EXPECT_EQ(ours.kermit.RecoveredLength(), part);
  EXPECT_TRUE(ReadAll(target) == bytes);
  EXPECT_EQ(ReportedBytes(peer->Output()), static_cast<long long>(bytes.size()) - part)
      << peer->Output();
  std::printf("ckermit killed at %lld of %zu bytes; ours resent %lld (ckermit's count)\n",
              static_cast<long long>(part), bytes.size(), ReportedBytes(peer->Output()));
}

TEST_F(KermitRecoveryPeer, CKermitsResendCompletesAFileOurLineWasCutReceiving) {
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  ours.kermit.SetDefaultPath(dst);
  const std::string target = dst + "/big.bin";
  const std::string longPackets = "set send packet-length 9024, set block-check 3";
  {
    auto peer = KermitPeer::Send(KermitPeer::CKermit, line.B(), {src + "/big.bin"}, src,
                                 kPeerLimitSec, longPackets);
    // Written under a temporary name until complete: the position tells how far it got.
    ASSERT_TRUE(
        WaitUntil([&] { return ours.kermit.GetFilePosition() >= kCutAt; }, kPeerLimitSec * 1000))
        << peer->Output();
    EXPECT_FALSE(Exists(target)) << "a partial file under the real name";
    CutLine(ours);
    peer->Kill();
  }
  // Kept hidden for the resend.
  const std::int64_t part = SizeOf(dst + "/.big.bin.vxpart");
  ASSERT_GE(part, kCutAt);
  ASSERT_LT(part, static_cast<std::int64_t>(bytes.size()));
  ASSERT_TRUE(ReadAll(dst + "/.big.bin.vxpart") == bytes.substr(0, static_cast<std::size_t>(part)));
  ours.fatal.clear();

  auto peer = KermitPeer::CKermitRun(line.B(), src, kPeerLimitSec, longPackets,
                                     "resend " + src + "/big.bin, " + kReport);
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_TRUE(ours.fatal.empty()) << ours.fatal.front();
  EXPECT_TRUE(ours.kermit.RecoveryAgreed());
  EXPECT_GT(ours.kermit.LargestPacketReceived(), 1000u);
  EXPECT_EQ(ours.kermit.RecoveredLength(), part);
  EXPECT_TRUE(ReadAll(target) == bytes);
  EXPECT_EQ(ReportedBytes(peer->Output()), static_cast<long long>(bytes.size()) - part)
      << peer->Output();
  std::printf("our line cut at %lld of %zu bytes; ckermit resent %lld (its count)\n",
              static_cast<long long>(part), bytes.size(), ReportedBytes(peer->Output()));
}

// ckermit holding a copy longer than the file: our resend ends with an error, and ckermit's
// copy is left as it was.
TEST_F(KermitRecoveryPeer, ALongerCopyAtCKermitEndsOurResendWithAnError) {
  KermitSide ours(line.A(), kPort);
  Configure(ours);
  ours.kermit.SetExactLength(false);
  const std::string small = bytes.substr(0, 100000);
  WriteAll(src + "/small.bin", small);
  const std::string longer = bytes.substr(0, 150000);
  WriteAll(dst + "/small.bin", longer);
  int failures = 0;
  ours.kermit.OnFatalError = [&](TObject*, Cardinal, Cardinal detail, const std::string&,
                                 bool& raise) {
    raise = false;
    if (detail == TvxKermit::kRecoveryFailure) ++failures;
  };
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, kPeerLimitSec, kKeep);
  ours.kermit.ResendFiles(src + "/small.bin");
  EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
  EXPECT_NE(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
  EXPECT_EQ(failures, 1);
  EXPECT_TRUE(ReadAll(dst + "/small.bin") == longer);
}
