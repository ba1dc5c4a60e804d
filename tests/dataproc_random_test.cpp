// Property-style runs of the packet detector over a million random bytes in random chunks:
// clean noise loses and duplicates no packet; unrestricted noise (markers and lengths
// included) stays within every buffer and detection recovers at the next valid packet.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "dataproc_traffic.h"

namespace {

using dataproc_traffic::Make;
using dataproc_traffic::Traffic;

constexpr std::size_t kTrafficSize = 1'000'000;

// Feeds Traffic in chunks of 1..4096 bytes; returns every delivered packet. Each delivery
// is copied into a buffer of exactly the definition's size, so that ASan sees any overrun.
using Definitions = void (*)(TvxDataProtocol&);

// Definitions with no begin marker: an end marker with a length, a fixed length and the
// silence, which store nearly every byte.
void AddUnmarkedDefinitions(TvxDataProtocol& proto) {
  TvxDataPacket* line = proto.Packets().Add();
  line->SetPacketEnd("\r\n");
  line->SetPacketLength(40);
  proto.Packets().Add(600)->SetPacketLength(1000);  // longer than its buffer: never completes
  proto.Packets().Add()->SetPacketLength(777);
  proto.Packets().Add(512)->SetPacketEndByTimeout(true);
  proto.ResetPackets();
}

std::vector<std::string> Detect(const Traffic& traffic, std::uint32_t seed,
                                Definitions define = dataproc_traffic::AddDefinitions,
                                bool byteByByte = false) {
  TvxDataProtocol proto;
  proto.SetActive(true);
  define(proto);
  std::vector<std::string> delivered;
  std::vector<std::uint8_t> copy;
  proto.OnDataPacket = [&](TObject*, TvxDataPacket* p) {
    EXPECT_GE(p->DataSize(), 0);
    EXPECT_LE(p->DataSize(), p->BufferSize());
    copy.assign(static_cast<std::size_t>(p->BufferSize()), 0);
    std::memcpy(copy.data(), p->Data(), static_cast<std::size_t>(p->DataSize()));
    delivered.emplace_back(reinterpret_cast<const char*>(copy.data()),
                           static_cast<std::size_t>(p->DataSize()));
  };
  if (byteByByte) {
    for (char c : traffic.bytes) proto.ProcessByte(static_cast<std::uint8_t>(c));
    return delivered;
  }
  std::mt19937 rng(seed);
  std::size_t at = 0;
  while (at < traffic.bytes.size()) {
    std::size_t chunk = std::min<std::size_t>(1 + rng() % 4096, traffic.bytes.size() - at);
    // A heap copy of exactly the chunk: reading past it would be caught.
    std::vector<char> block(traffic.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            traffic.bytes.begin() + static_cast<std::ptrdiff_t>(at + chunk));
    bool handled = false;
    proto.DoDataReceived(block.data(), static_cast<Cardinal>(block.size()), handled);
    at += chunk;
  }
  return delivered;
}

}  // namespace

TEST(DataProcRandom, CleanNoiseDeliversEveryPacketOnceAndWhole) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    Traffic traffic = Make(kTrafficSize, false, seed);
    ASSERT_GE(traffic.bytes.size(), kTrafficSize);
    ASSERT_GT(traffic.packets.size(), 500u);
    std::vector<std::string> delivered = Detect(traffic, seed * 7919u);
    ASSERT_EQ(delivered.size(), traffic.packets.size()) << "seed " << seed;
    for (std::size_t i = 0; i < delivered.size(); ++i)
      ASSERT_EQ(delivered[i], traffic.packets[i]) << "packet " << i << ", seed " << seed;
  }
}

TEST(DataProcRandom, UnrestrictedNoiseStaysInBoundsAndRecovers) {
  for (std::uint32_t seed : {11u, 12u}) {
    Traffic traffic = Make(kTrafficSize, true, seed);
    std::vector<std::string> delivered = Detect(traffic, seed * 104729u);
    // Garbage yields packets of its own; every valid packet is still delivered, in order.
    std::size_t next = 0;
    for (const std::string& d : delivered)
      if (next < traffic.packets.size() && d == traffic.packets[next]) ++next;
    EXPECT_EQ(next, traffic.packets.size()) << "seed " << seed;
    EXPECT_GT(delivered.size(), traffic.packets.size());
  }
}

// Received blocks are examined in runs where no definition can act; the result must be
// what offering each byte alone gives.
TEST(DataProcRandom, BlocksDetectExactlyAsSingleBytes) {
  Traffic traffic = Make(kTrafficSize / 2, true, 21);
  for (Definitions define :
       {Definitions(dataproc_traffic::AddDefinitions), Definitions(AddUnmarkedDefinitions)}) {
    std::vector<std::string> blocks = Detect(traffic, 5, define);
    std::vector<std::string> single = Detect(traffic, 0, define, true);
    EXPECT_GT(single.size(), 100u);
    ASSERT_EQ(blocks.size(), single.size());
    for (std::size_t i = 0; i < blocks.size(); ++i)
      ASSERT_EQ(blocks[i], single[i]) << "packet " << i;
  }
}
