// Two TvxZModem components on the virtual null-modem with bytes dropped, flipped and
// duplicated on the cable in both directions and bursts of random garbage thrown onto
// either end now and then, a batch of three files each time, with CRC-32; with CRC-16, the
// same amount of damage as bit errors only. A subpacket carries no length: a lost, doubled
// or stray byte is found by its CRC alone, which CRC-16 misses once in 65536 damaged
// subpackets (a few runs of this test in a hundred), while it finds every one- to three-bit
// error in a subpacket of up to 4 KiB.
// Whatever the line does: a file the receiver reports received is byte for byte the one
// sent; a file that failed leaves nothing in the receiving directory; a file the sender
// reports sent is one the receiver holds; and a session that reports success on either side
// lost nothing (every file is held, byte for byte). Seeds are printed.
#include <gtest/gtest.h>

#include <QTimer>
#include <iostream>
#include <map>
#include <random>
#include <set>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/testseed.h"
#include "support/zmodemside.h"

using namespace kermitfiles;

namespace {

std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

TEST(ZModemHostileLine, FilesReportedAreFilesSent) {
  const unsigned base = TestSeed("ZModemHostileLine");
  const TvxNullModem::Faults kinds[] = {
      {0.0005, 0, 0, 1}, {0, 0.0005, 0, 1}, {0, 0, 0.0005, 1}, {0.0003, 0.0003, 0.0003, 1}};
  const std::size_t sizes[] = {20 * 1000, 1, 3000};
  int received = 0, lost = 0, sessions = 0, sessions_ok = 0, repeats = 0;
  for (unsigned round = 0; round < 3; ++round) {
    const unsigned seed = base + round;
    for (const TvxNullModem::Faults& kind : kinds) {
      for (const bool crc32 : {true, false}) {
        TvxNullModem::Faults f = kind;
        if (!crc32) {
          f.flipRate = kind.flipRate + kind.dropRate + kind.duplicateRate;
          f.dropRate = f.duplicateRate = 0;
        }
        std::cout << "seed " << seed << " drop " << f.dropRate << " flip " << f.flipRate << " dup "
                  << f.duplicateRate << (crc32 ? " CRC-32" : " CRC-16") << "\n";
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        const std::string src = MakeTempDir("zm-h-src"), dst = MakeTempDir("zm-h-dst");
        std::map<std::string, std::string> sent;
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
          const std::string name = "f" + std::to_string(i) + ".bin";
          sent[name] = RandomBytes(sizes[i], seed * 10 + static_cast<unsigned>(i));
          WriteAll(src + "/" + name, sent[name]);
        }
        TvxNullModem modem("/virtual/zmodem-h-A", "/virtual/zmodem-h-B");
        f.seed = seed;
        modem.SetFaults(0, f);
        f.seed = seed + 100;
        modem.SetFaults(1, f);
        ZModemSide sender(modem.Name(0), 95), receiver(modem.Name(1), 96);
        for (ZModemSide* s : {&sender, &receiver}) {
          s->zmodem.SetTimeout(300);
          s->zmodem.SetErrorLimit(200);
        }
        receiver.zmodem.SetDefaultPath(dst);
        receiver.zmodem.SetCrc32(crc32);
        // Garbage now and then, onto either end, as if its peer had sent it.
        QTimer garbage;
        QObject::connect(&garbage, &QTimer::timeout, [&] {
          std::string noise(1 + rng() % 40, '\0');
          for (char& c : noise)
            c = static_cast<char>(rng() % 4 == 0 ? "*\x18"
                                                   "BAC"[rng() % 5]
                                                 : rng());
          modem.Feed(static_cast<int>(rng() % 2), noise);
        });
        if (crc32) garbage.start(37);
        receiver.zmodem.ReceiveFiles();
        sender.zmodem.SendFiles(src + "/f*.bin");
        ASSERT_TRUE(WaitUntil([&] { return sender.Ended() && receiver.Ended(); }, 120000));
        garbage.stop();
        std::set<std::string> held;
        for (const std::string& path : receiver.Complete()) {
          const std::string name = BaseName(path);
          ASSERT_EQ(sent.count(name), 1u) << path;
          EXPECT_TRUE(ReadAll(path) == sent[name]) << name << " reported received differs";
          held.insert(name);
        }
        // Nothing of a failed file stays: no part, no file under its name.
        const std::vector<std::string> entries = EntriesOf(dst);
        EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()), held);
        for (const std::string& path : sender.Complete()) {
          EXPECT_EQ(held.count(BaseName(path)), 1u)
              << "the sender reports " << path << ", which the receiver lacks";
        }
        // A session that reports success lost nothing.
        if (receiver.last.Ok()) {
          EXPECT_EQ(held.size(), sent.size()) << "the receiver's success lost files";
        }
        if (sender.last.Ok()) {
          EXPECT_EQ(held.size(), sent.size()) << "the sender's success lost files";
        }
        sessions += 2;
        sessions_ok += receiver.last.Ok() + sender.last.Ok();
        received += static_cast<int>(held.size());
        lost += static_cast<int>(sent.size() - held.size());
        repeats += sender.zmodem.Repeats();
        if (held.size() != sent.size())
          std::cout << "  receiver: " << receiver.last.failure
                    << "; sender: " << sender.last.failure << "\n";
      }
    }
  }
  std::cout << received << " files delivered, " << lost << " not; " << sessions_ok << " of "
            << sessions << " session ends in success; " << repeats << " repositionings\n";
  EXPECT_GT(received, 0);
}
