// The YMODEM receiver fed a damaged session: a sound batch (block 0s with their names,
// lengths and dates, data blocks, EOTs, the end) with bytes flipped, dropped, inserted and
// repeated, and block 0s of random bytes with sound CRCs. It never crashes; a file it
// reports received is byte for byte the one sent; nothing but such files is left in its
// directory and nothing is written beside it. The seed is printed.
#include <gtest/gtest.h>

#include <QDir>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>

#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "support/ymodemfeed.h"

using namespace kermitfiles;

namespace {

// The batch as a sender puts it on the line, without waiting for answers.
std::string Batch(const std::map<std::string, std::string>& files) {
  std::string line;
  for (const auto& [name, data] : files) {
    line += HeaderBlock(name, std::to_string(data.size()) + " 0");
    std::uint8_t number = 1;
    for (std::size_t at = 0; at < data.size(); at += 1024)
      line += Block(number++, data.substr(at, 1024));
    line += "\x04\x04";
  }
  return line + Block(0, "", 0);
}

// Line with Count random damages: a byte flipped, dropped, inserted, or a stretch repeated.
std::string Damaged(std::string line, int count, std::mt19937& rng) {
  for (int i = 0; i < count && !line.empty(); ++i) {
    const std::size_t at = rng() % line.size();
    switch (rng() % 4) {
      case 0:
        line[at] = static_cast<char>(line[at] ^ (1 << (rng() % 8)));
        break;
      case 1:
        line.erase(at, 1);
        break;
      case 2:
        line.insert(at, 1, static_cast<char>(rng() % 256));
        break;
      default:
        line.insert(at, line.substr(at, 1 + rng() % 200));
    }
  }
  return line;
}

// Block 0 of random bytes with a sound CRC: a name, fields, or neither.
std::string RandomHeader(std::mt19937& rng) {
  std::string data(1 + rng() % 200, '\0');
  for (char& c : data) c = static_cast<char>(rng() % 4 == 0 ? "/. 0127\0"[rng() % 8] : rng() % 256);
  return Block(0, data, 0);
}

}  // namespace

TEST(YModemReceiverFuzz, DamagedLineDeliversOnlyWholeFiles) {
  // A fixed seed, or YMODEM_FUZZ_SEED for another run.
  const char* given = std::getenv("YMODEM_FUZZ_SEED");
  const unsigned seed = given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10)) : 20261210;
  std::cout << "seed " << seed << "\n";
  std::mt19937 rng(seed);
  int delivered = 0;
  for (int run = 0; run < 300; ++run) {
    SCOPED_TRACE(::testing::Message() << "run " << run);
    const std::string outer = MakeTempDir("ym-fuzz");
    const std::string dst = outer + "/in";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dst)));
    std::map<std::string, std::string> files;
    for (int i = 0, n = 1 + static_cast<int>(rng() % 3); i < n; ++i)
      files["f" + std::to_string(i)] = RandomBytes(rng() % 3000, rng());
    std::string line = Batch(files);
    if (rng() % 3 == 0) line.insert(0, RandomHeader(rng));
    line = Damaged(line, static_cast<int>(rng() % 6), rng);
    YModemFeed feed(dst);
    feed.ymodem.SetErrorLimit(1000000);
    feed.ymodem.ReceiveFiles();
    for (std::size_t at = 0; at < line.size() && feed.ymodem.State() == fsReceive;) {
      const std::size_t n = std::min<std::size_t>(line.size() - at, 1 + rng() % 300);
      feed.Feed(line.substr(at, n));
      at += n;
    }
    feed.ymodem.Abort();
    std::vector<std::string> held;
    for (const TvxFileResult& r : feed.files) {
      if (r.outcome != foComplete) continue;
      const std::string name = r.name.substr(r.name.rfind('/') + 1);
      ASSERT_EQ(files.count(name), 1u) << r.name;
      EXPECT_TRUE(ReadAll(r.name) == files[name]) << name << " reported received differs";
      held.push_back(name);
    }
    std::sort(held.begin(), held.end());
    EXPECT_EQ(EntriesOf(dst), held);
    EXPECT_EQ(EntriesOf(outer), std::vector<std::string>{"in"});
    delivered += static_cast<int>(held.size());
  }
  std::cout << delivered << " files delivered whole\n";
  EXPECT_GT(delivered, 0);
}
