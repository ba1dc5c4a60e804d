// A sender whose Send-Init meets a peer's leftovers of an earlier session (its repeated
// answers, checked with that session's block check, which read as damaged now): the burst
// costs one repeat, the live peer's answer starts the session and the file arrives whole;
// a peer whose every answer is damaged is still given up at the retry limit.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/kermitwire.h"
#include "support/ptypair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;

namespace {

class KermitLeftovers : public ::testing::Test {
 protected:
  void SetUp() override {
    src = MakeTempDir("leftover-src");
    dst = MakeTempDir("leftover-dst");
    WriteAll(src + "/file.bin", RandomBytes(20000, 5));
    for (TvxKermit* k : {&sender, &receiver}) {
      k->SetActive(true);
      k->SetTimeout(2000);
      k->OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
        raise = false;
        fatal.push_back(msg);
      };
    }
    // As our programs run the sender: a damaged answer is repeated at once, ten failures
    // of one packet end the session, errors in all are not limited.
    sender.SetAdaptiveTimeout(true);
    sender.SetRetryLimit(10);
    sender.SetErrorLimit(INT_MAX);
    receiver.SetDefaultPath(dst);
  }

  // Eleven acknowledgements of an earlier session with type 3 checks: more than the retry
  // limit allows if each one counted.
  static std::string Leftovers() {
    std::string burst;
    for (unsigned seq = 1; seq <= 11; ++seq) burst += kermitwire::Packet('Y', seq, "", 2);
    return burst;
  }

  std::string src, dst;
  TvxKermit sender, receiver;
  KermitLink link{&sender, &receiver};
  std::vector<std::string> fatal;
};

}  // namespace

TEST_F(KermitLeftovers, ABurstBeforeTheFirstAnswerCostsOneRepeatAndTheSessionGoesOn) {
  bool first = true;
  link.filter = [&](bool aToB, const std::string& block) {
    if (aToB || !first) return block;
    first = false;
    return Leftovers() + block;
  };
  sender.SendFiles(src + "/file.bin");
  ASSERT_TRUE(link.WaitForSessionEnd(30000));
  EXPECT_TRUE(fatal.empty()) << fatal.front();
  EXPECT_EQ(ReadAll(dst + "/file.bin"), ReadAll(src + "/file.bin"));
  EXPECT_LE(KermitLink::Count(link.sentByA, 'S'), 2u) << KermitLink::Types(link.sentByA);
}

TEST_F(KermitLeftovers, APeerWhoseEveryAnswerIsDamagedIsGivenUpAtTheRetryLimit) {
  // The receiver's answers all arrive with a check of the wrong type; it waits as long as
  // it takes.
  link.filter = [](bool aToB, const std::string& block) {
    return aToB ? block : kermitwire::Packet('Y', 0, "", 2);
  };
  receiver.SetErrorLimit(INT_MAX);
  sender.SetTimeout(500);
  sender.SendFiles(src + "/file.bin");
  ASSERT_TRUE(WaitUntil([&] { return !fatal.empty(); }, 60000));
  EXPECT_EQ(fatal.front(), "Too many retries.");
  EXPECT_EQ(sender.State(), fsListen);
  // The first Send-Init and one repeat for each retry.
  EXPECT_EQ(KermitLink::Count(link.sentByA, 'S'), 11u) << KermitLink::Types(link.sentByA);
}
