// Resume on TvxZModem over the virtual null-modem (each side through a real TvxComm): a
// session cancelled inside a file leaves the received part hidden in the receiving
// directory, never under the file's name and never reported complete; the next session for
// the same file asks for the data from the part's end, so only the rest crosses, and the
// file arrives byte for byte. Without Resume the part is removed.
#include <gtest/gtest.h>

#include <iostream>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/zmodemside.h"

using namespace kermitfiles;

namespace {

constexpr std::size_t kSize = 600 * 1024;

// One session between two fresh sides: sends Src's big.bin into Dst, receiving with
// Resume as given, the sender cancelling once CutAt bytes are read (never when 0).
struct Session {
  TvxNullModem modem{"/virtual/zmodem-resume-A", "/virtual/zmodem-resume-B"};
  ZModemSide sender{modem.Name(0), 85}, receiver{modem.Name(1), 86};

  Session(const std::string& dst, bool resume, std::int64_t cutAt) {
    for (ZModemSide* s : {&sender, &receiver}) s->zmodem.SetTimeout(2000);
    receiver.zmodem.SetDefaultPath(dst);
    receiver.zmodem.SetResume(resume);
    if (cutAt > 0)
      sender.zmodem.OnProgress = [this, cutAt](TObject*) {
        if (sender.zmodem.GetFilePosition() >= cutAt) sender.zmodem.Abort();
      };
  }
  void Run(const std::string& src) {
    receiver.zmodem.ReceiveFiles();
    sender.zmodem.SendFiles(src + "/big.bin");
    ASSERT_TRUE(WaitUntil([&] { return receiver.Ended() && sender.Ended(); }, 60000));
  }
};

}  // namespace

TEST(ZModemResume, TheSecondSessionSendsOnlyTheRest) {
  const std::string src = MakeTempDir("zm-res-src"), dst = MakeTempDir("zm-res-dst");
  const std::string bytes = RandomBytes(kSize, 93);
  WriteAll(src + "/big.bin", bytes);
  const std::string part = dst + "/.big.bin.vxpart";
  std::int64_t held = 0;
  {
    Session first(dst, true, 200 * 1024);
    first.Run(src);
    EXPECT_FALSE(first.receiver.last.Ok());
    ASSERT_EQ(first.receiver.files.size(), 1u);
    EXPECT_EQ(first.receiver.files[0].outcome, foAborted);
    EXPECT_EQ(EntriesOf(dst), std::vector<std::string>{".big.bin.vxpart"});
    const std::string kept = ReadAll(part);
    held = static_cast<std::int64_t>(kept.size());
    EXPECT_GT(held, 0);
    ASSERT_LT(held, static_cast<std::int64_t>(kSize));
    EXPECT_TRUE(kept == bytes.substr(0, kept.size()));
  }
  Session second(dst, true, 0);
  second.Run(src);
  EXPECT_TRUE(second.receiver.Succeeded(1)) << second.receiver.last.failure;
  EXPECT_TRUE(second.sender.Succeeded(1)) << second.sender.last.failure;
  EXPECT_TRUE(ReadAll(dst + "/big.bin") == bytes);
  EXPECT_EQ(EntriesOf(dst), std::vector<std::string>{"big.bin"});
  ASSERT_EQ(second.receiver.files.size(), 1u);
  ASSERT_EQ(second.sender.files.size(), 1u);
  // Only what the part lacked crossed, on either side's account.
  EXPECT_EQ(second.receiver.files[0].bytes, static_cast<std::int64_t>(kSize) - held);
  EXPECT_EQ(second.sender.files[0].bytes, static_cast<std::int64_t>(kSize) - held);
  std::cout << "Resumed at " << held << " of " << kSize << " bytes\n";
}

TEST(ZModemResume, WithoutResumeNothingIsKept) {
  const std::string src = MakeTempDir("zm-res-src"), dst = MakeTempDir("zm-res-dst");
  WriteAll(src + "/big.bin", RandomBytes(kSize, 94));
  Session first(dst, false, 200 * 1024);
  first.Run(src);
  EXPECT_FALSE(first.receiver.last.Ok());
  EXPECT_EQ(first.receiver.last.Files(foComplete), 0);
  EXPECT_TRUE(EntriesOf(dst).empty());
}
