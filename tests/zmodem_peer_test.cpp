// TvxZModem against the standard ZMODEM programs sz and rz, run as black boxes with their
// standard input and output on one end of a socat pseudo-terminal pair and ours on the
// other: one batch each way (an empty file, files around the subpacket sizes, every byte
// value, 200 KiB of random bytes), which arrives byte for byte with its dates, under each
// option of the peer's that changes what goes on the line (every control escaped, CRC-16,
// 8K subpackets, a window, a frame length; and on ours CRC-16 and 8K subpackets).
#include <gtest/gtest.h>

#include <utime.h>

#include <QFileInfo>
#include <QProcess>
#include <cctype>
#include <iostream>

#include "support/kermitfiles.h"
#include "support/linepeer.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "support/zmodemside.h"

using namespace kermitfiles;

namespace {

const std::size_t kSizes[] = {0, 1, 1023, 1024, 1025, 8193, 200 * 1024};
constexpr std::int64_t kDate = 1660000000;

std::string NameOf(std::size_t i) {
  return "f" + std::to_string(i) + ".bin";
}

std::size_t FileCount() {
  return std::size(kSizes) + 1;
}

// Writes the batch into Dir (the sizes above, then every byte value), each file dated
// kDate + its index; returns the contents.
std::vector<std::string> WriteBatch(const std::string& dir) {
  std::vector<std::string> sent;
  for (std::size_t i = 0; i < FileCount(); ++i) {
    sent.push_back(i < std::size(kSizes) ? RandomBytes(kSizes[i], static_cast<unsigned>(i + 60))
                                         : EveryByte(8));
    const std::string path = dir + "/" + NameOf(i);
    WriteAll(path, sent.back());
    const auto when = static_cast<time_t>(kDate + static_cast<std::int64_t>(i));
    const utimbuf times{when, when};
    EXPECT_EQ(::utime(path.c_str(), &times), 0);
  }
  return sent;
}

std::int64_t Bytes(const std::vector<std::string>& sent) {
  std::int64_t n = 0;
  for (const std::string& s : sent) n += static_cast<std::int64_t>(s.size());
  return n;
}

void ExpectBatch(const std::string& dir, const std::vector<std::string>& sent) {
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(NameOf(i));
    const std::string path = dir + "/" + NameOf(i);
    const std::string got = ReadAll(path);
    EXPECT_TRUE(got == sent[i]) << got.size() << " bytes for " << sent[i].size();
    EXPECT_EQ(QFileInfo(QString::fromStdString(path)).lastModified().toSecsSinceEpoch(),
              kDate + static_cast<std::int64_t>(i));
  }
  EXPECT_EQ(EntriesOf(dir).size(), sent.size());
}

std::string AllNames() {
  std::string names;
  for (std::size_t i = 0; i < FileCount(); ++i) names += " " + NameOf(i);
  return names;
}

class ZModemFromSz : public ::testing::TestWithParam<const char*> {};
class ZModemToRz : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(ZModemFromSz, BatchArrivesWhole) {
  const std::string options = GetParam();
  SocatPair pair;
  const std::string src = MakeTempDir("zm-sz-src"), dst = MakeTempDir("zm-sz-dst");
  const std::vector<std::string> sent = WriteBatch(src);
  ZModemSide ours(pair.A(), 97);
  ours.zmodem.SetTimeout(3000);
  ours.zmodem.SetDefaultPath(dst);
  ours.zmodem.SetRetryLimit(5);
  QProcess sz;
  ours.zmodem.ReceiveFiles();
  StartLinePeer(sz, "sz -q " + options + AllNames(), pair.B(), src);
  ASSERT_TRUE(LinePeerExited(sz));
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
  EXPECT_EQ(sz.exitCode(), 0);
  EXPECT_TRUE(ours.Succeeded(static_cast<int>(sent.size()))) << ours.last.failure;
  EXPECT_EQ(ours.zmodem.Crc32InUse(), options.find("-o") == std::string::npos);
  ExpectBatch(dst, sent);
  std::cout << "From sz " << options << ": " << sent.size() << " files, " << Bytes(sent)
            << " bytes, " << ours.zmodem.Repeats() << " repeats, " << ours.zmodem.ErrorCount()
            << " errors\n";
}

INSTANTIATE_TEST_SUITE_P(Options, ZModemFromSz,
                         ::testing::Values("", "-e", "-o", "-8", "-w 4096", "-l 2048",
                                           "-e -o -l 4096"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name;
                           for (const char* c = info.param; *c; ++c)
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name.empty() ? std::string("defaults") : name;
                         });

TEST_P(ZModemToRz, BatchArrivesWhole) {
  // 0: defaults; 1: rz -e; 2: our CRC-16; 3: our 8K subpackets.
  const int variant = GetParam();
  SocatPair pair;
  const std::string src = MakeTempDir("zm-rz-src"), dst = MakeTempDir("zm-rz-dst");
  const std::vector<std::string> sent = WriteBatch(src);
  ZModemSide ours(pair.A(), 98);
  ours.zmodem.SetTimeout(3000);
  ours.zmodem.SetRetryLimit(5);
  if (variant == 2) ours.zmodem.SetCrc32(false);
  if (variant == 3) ours.zmodem.SetSubpacketSize(8192);
  QProcess rz;
  StartLinePeer(rz, variant == 1 ? "rz -q -e" : "rz -q", pair.B(), dst);
  ours.zmodem.SendFiles(src + "/f*.bin");
  ASSERT_TRUE(LinePeerExited(rz));
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
  EXPECT_EQ(rz.exitCode(), 0);
  EXPECT_TRUE(ours.Succeeded(static_cast<int>(sent.size()))) << ours.last.failure;
  EXPECT_EQ(ours.zmodem.Crc32InUse(), variant != 2);
  ExpectBatch(dst, sent);
  std::cout << "To rz (variant " << variant << "): " << sent.size() << " files, " << Bytes(sent)
            << " bytes, receiver buffer " << ours.zmodem.ReceiverBuffer() << ", "
            << ours.zmodem.Repeats() << " repeats\n";
}

std::string VariantName(const ::testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"defaults", "rzEscapesControls", "ourCrc16",
                                       "our8KSubpackets"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Variants, ZModemToRz, ::testing::Values(0, 1, 2, 3), VariantName);

// sz ended by a signal inside a large file: our session fails and leaves nothing in the directory.
TEST(ZModemPeerEnds, SzEndedInsideAFileLeavesNothing) {
  SocatPair pair;
  const std::string src = MakeTempDir("zm-kill-src"), dst = MakeTempDir("zm-kill-dst");
  WriteAll(src + "/big.bin", RandomBytes(8 << 20, 77));
  ZModemSide ours(pair.A(), 99);
  ours.zmodem.SetTimeout(500);
  ours.zmodem.SetRetryLimit(3);
  ours.zmodem.SetDefaultPath(dst);
  QProcess sz;
  bool killed = false;
  ours.zmodem.OnProgress = [&](TObject*) {
    if (killed || ours.zmodem.GetFilePosition() == 0) return;
    killed = true;
    sz.terminate();  // timeout passes the signal on to sz
  };
  ours.zmodem.ReceiveFiles();
  StartLinePeer(sz, "sz -q big.bin", pair.B(), src);
  ASSERT_TRUE(LinePeerExited(sz));
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
  EXPECT_TRUE(killed);
  EXPECT_FALSE(ours.last.Ok());
  EXPECT_EQ(ours.last.Files(foComplete), 0);
  EXPECT_TRUE(EntriesOf(dst).empty());
  std::cout << "sz ended: " << ours.last.failure << "\n";
}

// Our abort inside a file cancels sz (it exits with an error) and leaves nothing.
TEST(ZModemPeerEnds, OurAbortCancelsSz) {
  SocatPair pair;
  const std::string src = MakeTempDir("zm-abort-src"), dst = MakeTempDir("zm-abort-dst");
  WriteAll(src + "/big.bin", RandomBytes(8 << 20, 78));
  ZModemSide ours(pair.A(), 99);
  ours.zmodem.SetTimeout(3000);
  ours.zmodem.SetDefaultPath(dst);
  ours.zmodem.OnProgress = [&](TObject*) {
    if (ours.zmodem.GetFilePosition() > 0) ours.zmodem.Abort();
  };
  QProcess sz;
  ours.zmodem.ReceiveFiles();
  StartLinePeer(sz, "sz -q big.bin", pair.B(), src);
  ASSERT_TRUE(LinePeerExited(sz));
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
  EXPECT_NE(sz.exitCode(), 0);
  EXPECT_FALSE(ours.last.Ok());
  ASSERT_EQ(ours.files.size(), 1u);
  EXPECT_EQ(ours.files[0].outcome, foAborted);
  EXPECT_TRUE(EntriesOf(dst).empty());
}
