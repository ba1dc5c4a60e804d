// The YMODEM receiver fed a damaged session: a sound batch of one file (block 0 with its
// name, length and date, data blocks, EOTs, the end), sometimes after a block 0 of random
// bytes with a sound CRC, with bytes flipped, dropped, inserted and repeated, its reply
// time-out running out now and then between chunks. It never crashes; the file, reported
// received, is byte for byte the one sent; nothing but files reported received is left in
// its directory and nothing is written beside it. The seed is printed.
//
// One file a session: the line is fed without waiting for answers, as no sender sends it, so
// a lost block 0 between two files would hand the next file's blocks to the one before.
#include <gtest/gtest.h>

#include <QDir>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>

#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "support/ymodemfeed.h"

using namespace kermitfiles;

namespace {

// The batch of one file as a sender puts it on the line, without waiting for answers.
std::string Batch(const std::string& name, const std::string& data) {
  std::string line = HeaderBlock(name, std::to_string(data.size()) + " 0");
  std::uint8_t number = 1;
  for (std::size_t at = 0; at < data.size(); at += 1024)
    line += Block(number++, data.substr(at, 1024));
  return line + "\x04\x04" + Block(0, "", 0);
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
    const std::string sent = RandomBytes(rng() % 3000, rng());
    std::string line = Batch("f.bin", sent);
    if (rng() % 3 == 0) line.insert(0, RandomHeader(rng));
    line = Damaged(line, static_cast<int>(rng() % 6), rng);
    YModemFeed feed(dst);
    feed.ymodem.SetErrorLimit(1000000);
    feed.ymodem.ReceiveFiles();
    for (std::size_t at = 0; at < line.size() && feed.ymodem.State() == fsReceive;) {
      const std::size_t n = std::min<std::size_t>(line.size() - at, 1 + rng() % 300);
      feed.Feed(line.substr(at, n));
      at += n;
      // Now and then the reply time-out runs out between chunks (a purge ends, an ask repeats).
      if (rng() % 40 == 0) feed.ymodem.DoTimer(nullptr);
    }
    feed.ymodem.Abort();
    std::vector<std::string> held;
    for (const TvxFileResult& r : feed.files) {
      if (r.outcome != foComplete) continue;
      const std::string name = r.name.substr(r.name.rfind('/') + 1);
      // A random block 0 announces a file of its own: its name and length are the line's.
      if (name == "f.bin") {
        EXPECT_TRUE(ReadAll(r.name) == sent) << "the file reported received differs";
        ++delivered;
      }
      held.push_back(name);
    }
    std::sort(held.begin(), held.end());
    EXPECT_EQ(EntriesOf(dst), held);
    EXPECT_EQ(EntriesOf(outer), std::vector<std::string>{"in"});
  }
  std::cout << delivered << " of 300 sessions delivered the file whole\n";
  EXPECT_GT(delivered, 0);
}
