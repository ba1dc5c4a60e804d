// Two TvxKermit components on the two ends of the virtual null-modem, each through a real
// TvxComm, with bytes dropped, flipped and duplicated on the cable: a file reported
// complete is byte-identical, otherwise the session ends with an error.
#include <gtest/gtest.h>

#include "support/kermitfiles.h"
#include "support/kermitside.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"

using namespace kermitfiles;

namespace {

struct CableCase {
  const char* name;
  TvxNullModem::Faults faults;
  TvxKermitCrc crc;
};

class KermitNullModem : public ::testing::TestWithParam<CableCase> {};

}  // namespace

TEST_P(KermitNullModem, FilesArriveWholeOrTheSessionFails) {
  const CableCase cc = GetParam();
  int completed = 0;
  for (unsigned seed = 1; seed <= 2; ++seed) {
    SCOPED_TRACE(seed);
    const std::string src = MakeTempDir("nm-src"), dst = MakeTempDir("nm-dst");
    WriteAll(src + "/random.bin", RandomBytes(40 * 1024, seed));
    WriteAll(src + "/allbytes.bin", EveryByte(4));
    TvxNullModem modem("/virtual/kermit-nm-A", "/virtual/kermit-nm-B");
    TvxNullModem::Faults f = cc.faults;
    f.seed = seed;
    modem.SetFaults(0, f);
    f.seed = seed + 100;
    modem.SetFaults(1, f);
    KermitSide sender(modem.Name(0), 74), receiver(modem.Name(1), 75);
    for (KermitSide* s : {&sender, &receiver}) {
      s->kermit.SetTimeout(150);
      s->kermit.SetErrorLimit(40);
    }
    receiver.kermit.SetDefaultPath(dst);
    sender.kermit.SetCrc(cc.crc);
    sender.kermit.SendFiles(src + "/*");
    ASSERT_TRUE(WaitUntil([&] { return sender.kermit.State() == fsListen; }, 60000));
    ASSERT_TRUE(WaitUntil([&] { return receiver.kermit.State() == fsListen; }, 10000));
    const bool failed = !sender.fatal.empty() || !receiver.fatal.empty() ||
                        sender.HasEntry("vxKermit: Transfer aborted.") ||
                        receiver.HasEntry("vxKermit: Transfer aborted.");
    for (const std::string name : {"random.bin", "allbytes.bin"}) {
      const std::string path = receiver.kermit.DefaultPath() + name;
      if (receiver.log.Has("vxKermit: EOF [Z] Packet. Close File:  " + path)) {
        EXPECT_TRUE(ReadAll(path) == ReadAll(src + "/" + name)) << name;
        ++completed;
      } else {
        EXPECT_TRUE(failed) << name << " neither complete nor failed";
      }
    }
  }
  EXPECT_GE(completed, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cable, KermitNullModem,
    ::testing::Values(CableCase{"flips_type3", {0, 0.001, 0, 1}, crc16bit},
                      CableCase{"drops_type3", {0.001, 0, 0, 1}, crc16bit},
                      CableCase{"duplicates_type2", {0, 0, 0.0005, 1}, crc12bit},
                      CableCase{"mixed_type3", {0.0005, 0.0005, 0.0005, 1}, crc16bit}),
    [](const ::testing::TestParamInfo<CableCase>& info) { return std::string(info.param.name); });
