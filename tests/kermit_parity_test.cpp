// TvxKermit against ckermit on lines that carry no eighth bit: ckermit with parity (even,
// and space) over a linked pty pair, our side in 7 data bits with even parity asking for
// the eighth-bit prefix "&", or in 8 bits leaving the request to the peer. Every byte value
// and 8-bit file names must cross intact both ways; a long name keeps its extension.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/kermitside.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;

namespace {

constexpr int kPeerLimitSec = 60;
constexpr int kPort = 76;

// How the two ends run the line.
enum class LineMode {
  Even7,  // ckermit "set parity even"; ours 7 data bits, even parity, prefix "&"
  Plain8  // neither side has parity; ours keeps the default prefix choice "Y"
};

std::string ModeName(LineMode mode) {
  return mode == LineMode::Even7 ? "even7" : "plain8";
}
void PrintTo(LineMode mode, std::ostream* os) {
  *os << ModeName(mode);
}

void Configure(KermitSide& ours, LineMode mode) {
  if (mode != LineMode::Even7) return;
  ours.comm.SetByteSize(7);
  ours.comm.SetParity(pEven);
  ours.kermit.SetEighthBitPrefix('&');
}

std::string PeerSettings(LineMode mode) {
  return mode == LineMode::Even7 ? "set parity even" : "";
}

// The names of the files in Dir.
std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  return names;
}

class KermitParity : public ::testing::Test {
 protected:
  void SetUp() override {
    src = MakeTempDir("parity-src");
    dst = MakeTempDir("parity-dst");
  }
  // Watches our side's session: the prefix in force while data moves, and its states.
  void Watch(KermitSide& ours) {
    ours.kermit.OnProgress = [this, &ours](TObject*) { qbin_seen = ours.kermit.Qbin(); };
    ours.kermit.OnChangeState = [this, &ours](TObject*) { states.push_back(ours.kermit.State()); };
  }
  // Our side sends everything in src to ckermit, which receives into dst.
  void OursSends(KermitSide& ours, const std::string& peerSettings) {
    Watch(ours);
    auto peer =
        KermitPeer::Receive(KermitPeer::CKermit, line.B(), dst, kPeerLimitSec, peerSettings);
    ours.kermit.SendFiles(src + "/*");
    EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
    EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
    EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
    EXPECT_TRUE(ours.fatal.empty());
  }
  // ckermit sends Files (names in src) to our side, which receives into dst.
  void PeerSends(KermitSide& ours, const std::vector<std::string>& files,
                 const std::string& peerSettings) {
    Watch(ours);
    ours.kermit.SetDefaultPath(dst);
    std::vector<std::string> paths;
    for (const auto& f : files) paths.push_back(src + "/" + f);
    auto peer =
        KermitPeer::Send(KermitPeer::CKermit, line.B(), paths, src, kPeerLimitSec, peerSettings);
    EXPECT_TRUE(peer->Wait(kPeerLimitSec * 1000));
    EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
    EXPECT_TRUE(WaitUntil([&] { return ours.kermit.State() == fsListen; }, 5000));
    EXPECT_EQ(states, (std::vector<TvxTransferState>{fsReceive, fsListen}));
    EXPECT_TRUE(ours.fatal.empty());
  }
  void ExpectSame(const std::string& name) {
    ASSERT_TRUE(Exists(dst + "/" + name)) << name;
    EXPECT_TRUE(ReadAll(dst + "/" + name) == ReadAll(src + "/" + name)) << name;
  }

  std::string src, dst;
  SocatPair line;
  std::uint8_t qbin_seen = 0xFF;  // none seen yet
  std::vector<TvxTransferState> states;
};

// Every byte value, some KB of them, each way with each block check.
class KermitParityEveryByte : public KermitParity,
                              public ::testing::WithParamInterface<TvxKermitCrc> {};

std::string CheckName(const ::testing::TestParamInfo<TvxKermitCrc>& info) {
  return "type" + std::to_string(static_cast<int>(info.param) + 1);
}

const std::string kEveryByteName = "allbytes.bin";

TEST_P(KermitParityEveryByte, OursSendsToEvenParity) {
  WriteAll(src + "/" + kEveryByteName, EveryByte(24));
  KermitSide ours(line.A(), kPort);
  Configure(ours, LineMode::Even7);
  ours.kermit.SetCrc(GetParam());
  OursSends(ours, PeerSettings(LineMode::Even7));
  EXPECT_EQ(ours.kermit.CheckIndex(), static_cast<int>(GetParam()));
  EXPECT_EQ(qbin_seen, '&');
  ExpectSame(kEveryByteName);
}

TEST_P(KermitParityEveryByte, EvenParitySendsToOurs) {
  WriteAll(src + "/" + kEveryByteName, EveryByte(24));
  KermitSide ours(line.A(), kPort);
  Configure(ours, LineMode::Even7);
  PeerSends(ours, {kEveryByteName},
            PeerSettings(LineMode::Even7) + ", set block-check " +
                std::to_string(static_cast<int>(GetParam()) + 1));
  EXPECT_EQ(ours.kermit.CheckIndex(), static_cast<int>(GetParam()));
  EXPECT_EQ(qbin_seen, '&');
  ExpectSame(kEveryByteName);
}

INSTANTIATE_TEST_SUITE_P(Checks, KermitParityEveryByte,
                         ::testing::Values(crc6bit, crc12bit, crc16bit), CheckName);

// A peer on a space-parity line asks for the prefix itself: our side, in 8 bits with the
// default choice "Y", must agree and prefix, or the peer strips the eighth bit.
TEST_F(KermitParity, SpaceParityPeerGetsEighthBitBytesFromADefaultSide) {
  std::string bytes = "AT&T and R&D #&#\r\n";
  for (int b = 0x80; b <= 0xFF; ++b) bytes += static_cast<char>(b);
  bytes += "\xA3\xA6 AT&T and R&D";
  WriteAll(src + "/att.bin", bytes);
  KermitSide ours(line.A(), kPort);
  EXPECT_EQ(ours.kermit.EighthBitPrefix(), 'Y');
  OursSends(ours, "set parity space");
  EXPECT_EQ(qbin_seen, '&');
  ExpectSame("att.bin");
}

// A Latin-1 byte in a file name, each way, on each kind of line: the F packet carries the
// name encoded like data (under "&" the byte 0xE9 travels as "&i").
class KermitParityNames : public KermitParity, public ::testing::WithParamInterface<LineMode> {};

std::string LineName(const ::testing::TestParamInfo<LineMode>& info) {
  return ModeName(info.param);
}

const std::string kLatinName = "caf\xE9.txt";

TEST_P(KermitParityNames, LatinOneNameReachesThePeer) {
  WriteAll(src + "/" + kLatinName, "caf\xE9 au lait\n");
  KermitSide ours(line.A(), kPort);
  Configure(ours, GetParam());
  OursSends(ours, PeerSettings(GetParam()));
  EXPECT_EQ(qbin_seen, GetParam() == LineMode::Even7 ? '&' : 0);
  EXPECT_EQ(Listing(dst), std::vector<std::string>{kLatinName});
  ExpectSame(kLatinName);
}

TEST_P(KermitParityNames, LatinOneNameFromThePeer) {
  WriteAll(src + "/" + kLatinName, "caf\xE9 au lait\n");
  KermitSide ours(line.A(), kPort);
  Configure(ours, GetParam());
  // A command line passes through Qt as UTF-8, which the Latin-1 byte is not: ckermit
  // finds the file by its own wildcard.
  PeerSends(ours, {"caf*.txt"}, PeerSettings(GetParam()));
  EXPECT_EQ(qbin_seen, GetParam() == LineMode::Even7 ? '&' : 0);
  EXPECT_EQ(Listing(dst), std::vector<std::string>{kLatinName});
  ExpectSame(kLatinName);
}

// The prefix characters themselves in a name: the F packet quotes them like data.
const std::string kPrefixName = "R&D#1.txt";

TEST_P(KermitParityNames, PrefixCharactersInANameReachThePeer) {
  WriteAll(src + "/" + kPrefixName, "R&D #1\n");
  KermitSide ours(line.A(), kPort);
  Configure(ours, GetParam());
  OursSends(ours, PeerSettings(GetParam()));
  EXPECT_EQ(Listing(dst), std::vector<std::string>{kPrefixName});
  ExpectSame(kPrefixName);
}

TEST_P(KermitParityNames, PrefixCharactersInANameFromThePeer) {
  WriteAll(src + "/" + kPrefixName, "R&D #1\n");
  KermitSide ours(line.A(), kPort);
  Configure(ours, GetParam());
  PeerSends(ours, {"R*.txt"}, PeerSettings(GetParam()));
  EXPECT_EQ(Listing(dst), std::vector<std::string>{kPrefixName});
  ExpectSame(kPrefixName);
}

// A name longer than an F packet takes is cut in its stem: the extension stays.
TEST_P(KermitParityNames, LongNameKeepsItsExtension) {
  const std::string stem = "a-rather-long-file-name-" + std::string(92, 'n');
  const std::string name = stem + ".txt";
  ASSERT_EQ(name.size(), 120u);
  WriteAll(src + "/" + name, "long name\n");
  KermitSide ours(line.A(), kPort);
  Configure(ours, GetParam());
  OursSends(ours, PeerSettings(GetParam()));
  const std::vector<std::string> got = Listing(dst);
  ASSERT_EQ(got.size(), 1u);
  const std::string& received = got[0];
  ASSERT_GT(received.size(), 4u);
  EXPECT_EQ(received.substr(received.size() - 4), ".txt") << received;
  const std::string keptStem = received.substr(0, received.size() - 4);
  EXPECT_FALSE(keptStem.empty());
  EXPECT_EQ(stem.rfind(keptStem, 0), 0u) << received;
  EXPECT_EQ(ReadAll(dst + "/" + received), "long name\n");
}

INSTANTIATE_TEST_SUITE_P(Lines, KermitParityNames,
                         ::testing::Values(LineMode::Even7, LineMode::Plain8), LineName);

}  // namespace
