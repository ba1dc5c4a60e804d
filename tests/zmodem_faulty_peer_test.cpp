// TvxZModem against sz and rz through a line that flips bits (and, in the mixed case, drops
// and duplicates bytes) in both directions (FaultyLine): a batch of three files each way.
// A session may fail, but never in success with anything lost: a file our receiver reports
// received is byte for byte the one sent and nothing else is left in its directory; a file
// our sender reports sent is what rz holds; a session reporting success has every file
// whole on the receiving side. The seed, the outcome and what the line did are printed.
#include <gtest/gtest.h>

#include <QProcess>
#include <iostream>
#include <map>
#include <set>

#include "support/faultyline.h"
#include "support/kermitfiles.h"
#include "support/linepeer.h"
#include "support/ptypair.h"
#include "support/testseed.h"
#include "support/zmodemside.h"

using namespace kermitfiles;

namespace {

struct TCase {
  bool sending;  // ours to rz; else sz to ours
  bool mixed;    // flips, drops and duplicates; else flips only
};

class ZModemFaultyPeer : public ::testing::TestWithParam<TCase> {};

std::string CaseName(const ::testing::TestParamInfo<TCase>& info) {
  return std::string(info.param.sending ? "OursToRz" : "SzToOurs") +
         (info.param.mixed ? "_mixed" : "_flips");
}

std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

TEST_P(ZModemFaultyPeer, NothingLostIsReportedWhole) {
  const TCase c = GetParam();
  const unsigned seed = TestSeed(c.sending ? "ZModemFaultyPeer to rz" : "ZModemFaultyPeer from sz");
  FaultyLine line(c.mixed ? FaultRates::Mixed(0.0003) : FaultRates::Flips(0.0002), seed);
  const std::string src = MakeTempDir("zm-fp-src"), dst = MakeTempDir("zm-fp-dst");
  std::map<std::string, std::string> sent;
  const std::size_t sizes[] = {60 * 1024, 1, 5000};
  std::string names;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    sent[name] = RandomBytes(sizes[i], seed + static_cast<unsigned>(i));
    WriteAll(src + "/" + name, sent[name]);
    names += " " + name;
  }
  ZModemSide ours(line.A(), 100);
  ours.zmodem.SetTimeout(2000);
  ours.zmodem.SetRetryLimit(20);
  QProcess peer;
  if (c.sending) {
    StartLinePeer(peer, "rz -q", line.B(), dst);
    ours.zmodem.SendFiles(src + "/f*.bin");
  } else {
    ours.zmodem.SetDefaultPath(dst);
    ours.zmodem.ReceiveFiles();
    StartLinePeer(peer, "sz -q" + names, line.B(), src);
  }
  ASSERT_TRUE(LinePeerExited(peer));
  ASSERT_TRUE(WaitUntil([&] { return ours.Ended(); }, 120000));
  std::set<std::string> whole;
  for (const auto& [name, bytes] : sent)
    if (Exists(dst + "/" + name) && ReadAll(dst + "/" + name) == bytes) whole.insert(name);
  if (c.sending) {
    for (const std::string& path : ours.Complete())
      EXPECT_EQ(whole.count(BaseName(path)), 1u) << "reported sent, not whole at rz: " << path;
  } else {
    for (const std::string& path : ours.Complete())
      EXPECT_EQ(whole.count(BaseName(path)), 1u) << "reported received, not whole: " << path;
    const std::vector<std::string> entries = EntriesOf(dst);
    EXPECT_EQ(entries.size(), ours.Complete().size()) << "a file not received was left";
  }
  if (ours.last.Ok()) {
    EXPECT_EQ(whole.size(), sent.size()) << "our success lost files";
  }
  std::cout << (c.sending ? "to rz" : "from sz") << ": " << whole.size() << " of " << sent.size()
            << " files whole; ours " << (ours.last.Ok() ? "succeeded" : "failed: ")
            << ours.last.failure << "; peer exit " << peer.exitCode() << "; "
            << ours.zmodem.Repeats() << " repositionings; " << line.Describe() << "\n";
}

INSTANTIATE_TEST_SUITE_P(Lines, ZModemFaultyPeer,
                         ::testing::Values(TCase{false, false}, TCase{true, false},
                                           TCase{false, true}, TCase{true, true}),
                         CaseName);
