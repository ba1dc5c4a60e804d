// The one rule vxkermit and vxterm judge a transfer by, and the names a send refuses: a
// transfer succeeds only when every file listed crossed complete, and the counts it prints
// add up to the files listed.
#include <gtest/gtest.h>

#include "sendnames.h"
#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "transferverdict.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

namespace {

TvxSessionResult Sent(int listed, std::initializer_list<std::pair<TvxFileOutcome, int>> files,
                      bool ended = true, const std::string& failure = {}) {
  TvxSessionResult r;
  r.sending = true;
  r.ended = ended;
  r.failure = failure;
  r.listed = listed;
  for (const auto& [outcome, n] : files) r.files[outcome] += n;
  return r;
}

}  // namespace

TEST(TransferVerdict, OnlyEveryFileListedCompleteIsASuccess) {
  const TTransferVerdict all = JudgeTransfer(Sent(2, {{foComplete, 2}}));
  EXPECT_TRUE(all.ok);
  EXPECT_EQ(all.text, "2 files sent");
  EXPECT_EQ(all.counts, "2 files listed: 2 sent complete, 0 skipped, 0 failed");

  const TTransferVerdict refused = JudgeTransfer(Sent(1, {{foComplete, 1}}), 2);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.text, "2 of 3 files could not be sent");
  EXPECT_EQ(refused.counts, "3 files listed: 1 sent complete, 0 skipped, 2 failed");

  const TTransferVerdict skipped = JudgeTransfer(Sent(3, {{foComplete, 1}, {foSkippedByPeer, 2}}));
  EXPECT_FALSE(skipped.ok);
  EXPECT_EQ(skipped.text, "2 of 3 files skipped by the receiver");
  EXPECT_EQ(skipped.counts, "3 files listed: 1 sent complete, 2 skipped, 0 failed");

  // The session ended early: its reason, and the files it never reached failed with it.
  const TTransferVerdict aborted =
      JudgeTransfer(Sent(3, {{foComplete, 1}, {foAborted, 1}}, false, "aborted"));
  EXPECT_FALSE(aborted.ok);
  EXPECT_EQ(aborted.text, "aborted");
  EXPECT_EQ(aborted.counts, "3 files listed: 1 sent complete, 0 skipped, 2 failed");

  // Files passed over as unreadable are among the skipped ones, and named.
  TvxSessionResult unreadable = Sent(3, {{foComplete, 2}, {foSkippedByUs, 1}});
  unreadable.unreadable = {"/d/b.bin"};
  const TTransferVerdict passedOver = JudgeTransfer(unreadable);
  EXPECT_FALSE(passedOver.ok);
  EXPECT_EQ(passedOver.text, "1 of 3 files could not be read and was skipped (/d/b.bin)");
  EXPECT_EQ(passedOver.counts, "3 files listed: 2 sent complete, 1 skipped, 0 failed");

  TvxSessionResult received;
  received.ended = true;
  received.files[foComplete] = 1;
  received.files[foDiscarded] = 1;
  const TTransferVerdict discarded = JudgeTransfer(received);
  EXPECT_FALSE(discarded.ok);
  EXPECT_EQ(discarded.text, "1 of 2 files not kept");
  EXPECT_EQ(discarded.counts, "2 files begun: 1 received complete, 1 skipped, 0 failed");
}

TEST(SendNames, ANameTheListWouldSplitTrimOrMissIsRefusedWithItsReason) {
  const std::string dir = MakeTempDir("names");
  kermitfiles::WriteAll(dir + "/ok.txt", "ok");
  TvxKermit kermit;
  EXPECT_EQ(UnsendableMask(kermit, dir + "/ok.txt"), "");
  EXPECT_EQ(kermit.FileList().Count(), 1);
  EXPECT_EQ(UnsendableMask(kermit, dir + "/new\nline.txt"), "a name with a line break");
  EXPECT_EQ(UnsendableMask(kermit, "   "), "a name of blanks only");
  EXPECT_EQ(UnsendableMask(kermit, " " + dir + "/ok.txt"),
            "a name that begins or ends with a blank");
  EXPECT_EQ(UnsendableMask(kermit, dir + "/none-*"), "no such file");
  EXPECT_EQ(QuotedName("new\nline\x01"), "\"new\\nline\\x01\"");
}
