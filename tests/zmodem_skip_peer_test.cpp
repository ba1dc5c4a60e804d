// SkipFile on TvxZModem inside the second of three files against the standard programs, run
// as black boxes on a socat pseudo-terminal pair: our receiver skipping a file sz sends
// (the first and third files arrive byte for byte, nothing of the second is left, its result
// reads skipped by this side, the session ends by the protocol), and our sender skipping a
// file rz receives (see below: rz does not go on, and nothing is reported that it lacks).
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <iostream>

#include "support/kermitfiles.h"
#include "support/linepeer.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "support/zmodemside.h"
#include "support/zmodemskip.h"

using namespace kermitfiles;
using namespace zmodemskip;

TEST(ZModemSkipPeer, OurReceiverSkipsTheSecondFromSz) {
  SocatPair pair;
  const std::string src = MakeTempDir("zm-skip-sz-src"), dst = MakeTempDir("zm-skip-sz-dst");
  const std::vector<std::string> sent = WriteBatch(src, 61);
  ZModemSide ours(pair.A(), 83);
  ours.zmodem.SetTimeout(3000);
  ours.zmodem.SetDefaultPath(dst);
  bool skipped = false;
  SkipInSecondFile(ours, false, skipped);
  QProcess sz;
  ours.zmodem.ReceiveFiles();
  StartLinePeer(sz, "sz -q" + AllNames(), pair.B(), src);
  ASSERT_TRUE(LinePeerExited(sz));
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
  EXPECT_TRUE(skipped);
  EXPECT_TRUE(EndedWith(ours, 2)) << ours.last.failure;
  EXPECT_EQ(Outcomes(ours), (std::vector<TvxFileOutcome>{foComplete, foSkippedByUs, foComplete}));
  ExpectFirstAndThird(dst, sent);
  std::cout << "sz after our skip: exit code " << sz.exitCode() << ", " << ours.zmodem.Repeats()
            << " repeats\n";
}

// rz takes no ZFILE inside a file: it answers each with ZRPOS for the data of the file it
// is in, which our sender takes as a position past the next file's end. Our session then
// ends in failure (a protocol violation) and reports nothing complete that rz does not hold
// whole: the first file is whole there, the second never is.
TEST(ZModemSkipPeer, OurSenderSkipsTheSecondToRz) {
  SocatPair pair;
  const std::string src = MakeTempDir("zm-skip-rz-src"), dst = MakeTempDir("zm-skip-rz-dst");
  const std::vector<std::string> sent = WriteBatch(src, 71);
  ZModemSide ours(pair.A(), 84);
  ours.zmodem.SetTimeout(3000);
  bool skipped = false;
  SkipInSecondFile(ours, false, skipped);
  QProcess rz;
  StartLinePeer(rz, "rz -q", pair.B(), dst);
  ours.zmodem.SendFiles(src + "/s*.bin");
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 30000));
  ASSERT_TRUE(LinePeerExited(rz));
  EXPECT_TRUE(skipped);
  EXPECT_FALSE(ours.last.ended && ours.last.failure.empty());
  ASSERT_GE(ours.files.size(), 2u);
  EXPECT_EQ(ours.files[0].outcome, foComplete);
  EXPECT_EQ(ours.files[1].outcome, foSkippedByUs);
  for (std::size_t i = 0; i < ours.files.size(); ++i)
    if (ours.files[i].outcome == foComplete) {
      EXPECT_TRUE(ReadAll(dst + "/" + NameOf(i)) == sent[i]);
    }
  const std::string second = dst + "/" + NameOf(1);
  const std::int64_t kept = QFileInfo::exists(QString::fromStdString(second))
                                ? static_cast<std::int64_t>(ReadAll(second).size())
                                : -1;
  EXPECT_LT(kept, static_cast<std::int64_t>(sent[1].size()));
  std::cout << "rz after our skip: " << ours.last.failure << " (exit code " << rz.exitCode()
            << "), it kept " << kept << " bytes of the second file\n";
}
