// Detection throughput of the packet detector over 64 MiB of mixed traffic, beside a
// baseline run in the same process: a plain loop that copies the same bytes, block by
// block, into a bounded buffer. Prints MB/s for both and their ratio (target: >= 0.25).
#include <QCoreApplication>
#include <cstdio>
#include <ctime>

#include "dataproc_traffic.h"

namespace {

constexpr std::size_t kTrafficSize = 64u << 20;
constexpr std::size_t kBlock = 4096;
constexpr int kRounds = 3;

// The best of kRounds runs of Body over the whole traffic, in seconds.
template <typename Body>
double Best(Body body) {
  double best = 1e30;
  for (int r = 0; r < kRounds; ++r) {
    std::clock_t start = std::clock();
    body();
    best = std::min(best, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  dataproc_traffic::Traffic traffic = dataproc_traffic::Make(kTrafficSize, false, 2024);
  const std::string& bytes = traffic.bytes;

  // Baseline: every byte stored into a buffer of a definition's size, wrapping at its end.
  std::vector<std::uint8_t> sink(TvxDataPacket::DefaultBufferSize);
  std::uint64_t checksum = 0;
  double copySeconds = Best([&] {
    std::size_t pos = 0;
    for (std::size_t at = 0; at < bytes.size(); at += kBlock) {
      std::size_t len = std::min(kBlock, bytes.size() - at);
      const auto* block = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
      for (std::size_t i = 0; i < len; ++i) {
        if (pos == sink.size()) pos = 0;
        sink[pos++] = block[i];
      }
      checksum += sink[pos - 1];
    }
  });

  TvxDataProtocol proto;
  proto.SetActive(true);
  dataproc_traffic::AddDefinitions(proto);
  std::size_t delivered = 0;
  proto.OnDataPacket = [&](TObject*, TvxDataPacket* p) {
    delivered += static_cast<std::size_t>(p->DataSize() > 0);
  };
  double detectSeconds = Best([&] {
    for (std::size_t at = 0; at < bytes.size(); at += kBlock) {
      bool handled = false;
      Cardinal len = static_cast<Cardinal>(std::min(kBlock, bytes.size() - at));
      proto.DoDataReceived(bytes.data() + at, len, handled);
    }
  });

  const double mb = static_cast<double>(bytes.size()) / 1e6;
  const double copyRate = mb / copySeconds, detectRate = mb / detectSeconds;
  std::printf("traffic: %.1f MB, %zu packets (copy checksum %llu)\n", mb, traffic.packets.size(),
              static_cast<unsigned long long>(checksum));
  std::printf("baseline copy loop: %.1f MB/s\n", copyRate);
  std::printf("packet detection:   %.1f MB/s (%zu packets delivered in %d rounds)\n", detectRate,
              delivered, kRounds);
  std::printf("ratio detection/baseline: %.3f (target >= 0.25)\n", detectRate / copyRate);
  if (delivered != traffic.packets.size() * kRounds) {
    std::fprintf(stderr, "detection lost packets: %zu of %zu\n", delivered,
                 traffic.packets.size() * kRounds);
    return 1;
  }
  return 0;
}
