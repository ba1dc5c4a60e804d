// The Send-Init detector a terminal uses to take a transfer the far end starts: what it
// finds among terminal bytes, split any way, and what it shows.
#include <gtest/gtest.h>

#include <random>

#include "support/testseed.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinitdetector.h"

using namespace vxcomm::vxkermit;

namespace {

// A Send-Init as a sender writes it: SOH, LEN, SEQ 0, 'S', Data, check, CR.
std::string SendInit(const std::string& data, char type = 'S', unsigned seq = 0) {
  std::uint8_t out[kPacketImageSize];
  const std::size_t n =
      FramePacket(out, static_cast<std::uint8_t>(type), seq,
                  reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), 0);
  return std::string(reinterpret_cast<const char*>(out), n);
}

const std::string kParams = "~* @-#Y3~^>J)0___U\"";

}  // namespace

TEST(SendInitDetector, FindsTheSendInitAndShowsEverythingElse) {
  struct Case {
    std::string in;
    bool found;
    std::string show;
  };
  const std::string s = SendInit(kParams);
  const Case cases[] = {
      {"login: ", false, "login: "},
      {"text " + s, true, "text "},
      {s, true, ""},
      {"\x01\x01" + s, true, "\x01\x01"},
      {"a\x01!z", false, "a\x01!z"},                                  // no packet length
      {SendInit(kParams, 'D'), false, SendInit(kParams, 'D')},        // not a Send-Init
      {SendInit(kParams, 'S', 1), false, SendInit(kParams, 'S', 1)},  // not number 0
  };
  for (const Case& c : cases) {
    TSendInitDetector d;
    const auto r = d.Feed(c.in.data(), c.in.size());
    EXPECT_EQ(r.found, c.found) << c.in;
    EXPECT_EQ(r.show, c.show) << c.in;
    if (c.found) {
      EXPECT_EQ(r.packet, s) << "the packet and what follows it";
    }
  }
  // A damaged check is no Send-Init; its bytes are shown.
  std::string bad = s;
  bad[bad.size() - 2] ^= 1;
  TSendInitDetector d;
  const auto r = d.Feed(bad.data(), bad.size());
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.show + d.Release(), bad);
}

TEST(SendInitDetector, FindsItAcrossAnySplitOfTheBlocks) {
  const std::string stream = "Linux login: \x01 x" + SendInit(kParams) + "tail";
  for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1)
    for (std::size_t cut2 = cut1; cut2 <= stream.size(); cut2 += 3) {
      TSendInitDetector d;
      std::string shown, packet;
      bool found = false;
      for (const auto& part :
           {stream.substr(0, cut1), stream.substr(cut1, cut2 - cut1), stream.substr(cut2)}) {
        if (found) {
          packet += part;
          continue;
        }
        const auto r = d.Feed(part.data(), part.size());
        shown += r.show;
        if (r.found) {
          found = true;
          packet = r.packet;
        }
      }
      ASSERT_TRUE(found) << cut1 << " " << cut2;
      EXPECT_EQ(shown, "Linux login: \x01 x");
      EXPECT_EQ(packet, SendInit(kParams) + "tail");
    }
}

TEST(SendInitDetector, RandomBytesAreShownWhole) {
  const unsigned seed = TestSeed("SendInitDetector.RandomBytesAreShownWhole");
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 200; ++round) {
    std::string in(1 + random() % 400, '\0');
    for (char& c : in) c = static_cast<char>(random() % 4 == 0 ? 1 : random() % 256);
    TSendInitDetector d;
    std::string shown;
    bool found = false;
    for (std::size_t at = 0; at < in.size() && !found;) {
      const std::size_t n = std::min<std::size_t>(1 + random() % 20, in.size() - at);
      const auto r = d.Feed(in.data() + at, n);
      shown += r.show;
      found = r.found;
      at += n;
    }
    if (!found) {
      EXPECT_EQ(shown + d.Release(), in);
    }
  }
}

TEST(SendInitDetector, FindsTheForceThreeSendInitOfABlockCheckFiveSender) {
  // ckermit's Send-Init with set block-check 5, as taken from the line: its own check is the
  // three characters of the type 3 CRC.
  const std::string s = "\x01; S~/ @-#Y5~^>J)0___F\"U1@!O6\r";
  TSendInitDetector d;
  const auto r = d.Feed(s.data(), s.size());
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.show, "");
  EXPECT_EQ(r.packet, s);
  // Damaged, or with any other CHKT, it is none.
  for (const std::size_t at : {s.size() - 2, std::size_t{11}}) {
    std::string bad = s;
    bad[at] ^= 1;
    TSendInitDetector other;
    EXPECT_FALSE(other.Feed(bad.data(), bad.size()).found) << at;
  }
}
