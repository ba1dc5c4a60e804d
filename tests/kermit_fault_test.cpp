// Two TvxKermit components over a line that drops, flips and duplicates bytes: every file
// the receiver reports complete is byte-identical; otherwise the session ends with an error.
#include <gtest/gtest.h>

#include <random>

#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/ptypair.h"
#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;

namespace {

struct FaultCase {
  const char* name;
  double drop, flip, duplicate;
  TvxKermitCrc crc;
};

// Applies the faults to each byte of Block with Gen.
std::string Damage(const std::string& block, const FaultCase& f, std::mt19937& gen) {
  std::uniform_real_distribution<double> p(0, 1);
  std::string out;
  for (char c : block) {
    if (p(gen) < f.drop) continue;
    if (p(gen) < f.flip) c = static_cast<char>(c ^ (1 << (gen() % 8)));
    out += c;
    if (p(gen) < f.duplicate) out += c;
  }
  return out;
}

class KermitFaults : public ::testing::TestWithParam<FaultCase> {};

}  // namespace

TEST_P(KermitFaults, NoWrongFileIsEverReportedDone) {
  const FaultCase fc = GetParam();
  int completed = 0;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    const std::string src = MakeTempDir("fault-src"), dst = MakeTempDir("fault-dst");
    WriteAll(src + "/random.bin", RandomBytes(48 * 1024, seed));
    WriteAll(src + "/allbytes.bin", EveryByte(8));
    TvxKermit sender, receiver;
    TvxTestLog recvLog;
    recvLog.detailLevel = dlDebug;
    receiver.SetLog(&recvLog);
    bool aborted = false;
    for (TvxKermit* k : {&sender, &receiver}) {
      k->SetActive(true);
      k->SetTimeout(120);
      k->SetErrorLimit(40);
      k->OnFatalError = [&](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
        raise = false;
        aborted = true;
      };
    }
    receiver.SetDefaultPath(dst);
    sender.SetCrc(fc.crc);
    KermitLink link(&sender, &receiver);
    std::mt19937 gen(seed * 7919u);
    link.filter = [&](bool, const std::string& b) { return Damage(b, fc, gen); };
    sender.SendFiles(src + "/*");
    WaitUntil([&] { return sender.State() == fsListen && receiver.State() == fsListen; }, 40000);
    WaitUntil([] { return false; }, 20);
    ASSERT_EQ(sender.State(), fsListen);
    // A receiver that never heard the break ends by its own error limit.
    WaitUntil([&] { return receiver.State() == fsListen; }, 10000);
    ASSERT_EQ(receiver.State(), fsListen);
    for (const std::string name : {"random.bin", "allbytes.bin"}) {
      const std::string path = receiver.DefaultPath() + name;
      if (recvLog.Has("vxKermit: EOF [Z] Packet. Close File:  " + path)) {
        const std::string got = ReadAll(path), want = ReadAll(src + "/" + name);
        std::size_t at = 0;
        while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
        EXPECT_TRUE(got == want) << name << " sizes " << got.size() << " " << want.size()
                                 << " first difference at " << at;
        ++completed;
      } else {
        EXPECT_TRUE(
            aborted ||
            recvLog.Has(
                "vxKermit: Transfer aborted. Remote end reports fatal error: Too many errors."))
            << name << " neither complete nor failed";
      }
    }
  }
  // The rates leave most transfers to finish: the test looks at real completions.
  EXPECT_GE(completed, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Line, KermitFaults,
    // Type 1 is left out: its six bits pass one in 64 packets damaged twice.
    ::testing::Values(FaultCase{"flips_type2", 0, 0.001, 0, crc12bit},
                      FaultCase{"flips_type3", 0, 0.002, 0, crc16bit},
                      FaultCase{"drops_type3", 0.001, 0, 0, crc16bit},
                      FaultCase{"duplicates_type3", 0, 0, 0.001, crc16bit},
                      FaultCase{"mixed_type3", 0.0005, 0.0005, 0.0005, crc16bit}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });
