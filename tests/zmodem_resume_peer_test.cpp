// Resume on TvxZModem against the standard programs as black boxes on a socat
// pseudo-terminal pair. Receiving: sz ended by a signal inside a file leaves our part
// hidden, and "sz -r" in the next session sends only what it lacks; the file arrives byte
// for byte. Sending with Resume: "rz -r" holding the file's start under its name asks for
// the rest, which is all that crosses; the file arrives byte for byte.
#include <gtest/gtest.h>

#include <QProcess>
#include <iostream>

#include "support/kermitfiles.h"
#include "support/linepeer.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "support/zmodemside.h"

using namespace kermitfiles;

namespace {

constexpr std::size_t kSize = 4 << 20;

}  // namespace

TEST(ZModemResumePeer, SzResumesWhatOurReceiverKept) {
  const std::string src = MakeTempDir("zm-res-sz-src"), dst = MakeTempDir("zm-res-sz-dst");
  const std::string bytes = RandomBytes(kSize, 95);
  WriteAll(src + "/big.bin", bytes);
  std::int64_t held = 0;
  {
    SocatPair pair;
    ZModemSide ours(pair.A(), 87);
    ours.zmodem.SetTimeout(500);
    ours.zmodem.SetRetryLimit(3);
    ours.zmodem.SetDefaultPath(dst);
    ours.zmodem.SetResume(true);
    QProcess sz;
    bool killed = false;
    ours.zmodem.OnProgress = [&](TObject*) {
      if (killed || ours.zmodem.GetFilePosition() < 256 * 1024) return;
      killed = true;
      sz.terminate();
    };
    ours.zmodem.ReceiveFiles();
    StartLinePeer(sz, "sz -q big.bin", pair.B(), src);
    ASSERT_TRUE(LinePeerExited(sz));
    ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
    EXPECT_TRUE(killed);
    EXPECT_FALSE(ours.last.Ok());
    EXPECT_EQ(ours.last.Files(foComplete), 0);
    ASSERT_EQ(EntriesOf(dst), std::vector<std::string>{".big.bin.vxpart"});
    const std::string kept = ReadAll(dst + "/.big.bin.vxpart");
    held = static_cast<std::int64_t>(kept.size());
    ASSERT_LT(held, static_cast<std::int64_t>(kSize));
    EXPECT_TRUE(kept == bytes.substr(0, kept.size()));
  }
  SocatPair pair;
  ZModemSide ours(pair.A(), 88);
  ours.zmodem.SetTimeout(3000);
  ours.zmodem.SetDefaultPath(dst);
  ours.zmodem.SetResume(true);
  QProcess sz;
  ours.zmodem.ReceiveFiles();
  StartLinePeer(sz, "sz -q -r big.bin", pair.B(), src);
  ASSERT_TRUE(LinePeerExited(sz));
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
  EXPECT_EQ(sz.exitCode(), 0);
  EXPECT_TRUE(ours.Succeeded(1)) << ours.last.failure;
  EXPECT_TRUE(ReadAll(dst + "/big.bin") == bytes);
  EXPECT_EQ(EntriesOf(dst), std::vector<std::string>{"big.bin"});
  ASSERT_EQ(ours.files.size(), 1u);
  EXPECT_EQ(ours.files[0].bytes, static_cast<std::int64_t>(kSize) - held);
  std::cout << "sz -r resumed at " << held << " of " << kSize << " bytes\n";
}

TEST(ZModemResumePeer, RzResumesFromWhatItHolds) {
  SocatPair pair;
  const std::string src = MakeTempDir("zm-res-rz-src"), dst = MakeTempDir("zm-res-rz-dst");
  const std::string bytes = RandomBytes(1 << 20, 96);
  WriteAll(src + "/big.bin", bytes);
  constexpr std::size_t kHeld = 300 * 1024;
  WriteAll(dst + "/big.bin", bytes.substr(0, kHeld));
  ZModemSide ours(pair.A(), 89);
  ours.zmodem.SetTimeout(3000);
  ours.zmodem.SetResume(true);
  QProcess rz;
  StartLinePeer(rz, "rz -q -r", pair.B(), dst);
  ours.zmodem.SendFiles(src + "/big.bin");
  ASSERT_TRUE(LinePeerExited(rz));
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
  EXPECT_EQ(rz.exitCode(), 0);
  EXPECT_TRUE(ours.Succeeded(1)) << ours.last.failure;
  EXPECT_TRUE(ReadAll(dst + "/big.bin") == bytes);
  ASSERT_EQ(ours.files.size(), 1u);
  EXPECT_EQ(ours.files[0].bytes, static_cast<std::int64_t>(bytes.size() - kHeld));
}
