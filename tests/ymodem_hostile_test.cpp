// Two TvxYModem components on the virtual null-modem with bytes dropped, flipped and
// duplicated on the cable in both directions, a batch of three files each time. Whatever the
// line does, a file the receiver reports received is byte for byte the one sent, a file that
// failed leaves nothing in the receiving directory, and, on a line that duplicates no bytes,
// a file the sender reports sent is one the receiver holds; acknowledged and YMODEM-g (which
// gives up at the first damage). Seeds are printed.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/ymodemside.h"

using namespace kermitfiles;

namespace {

std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

TEST(YModemHostileLine, FilesReportedAreFilesSent) {
  const TvxNullModem::Faults kinds[] = {
      {0.0005, 0, 0, 1}, {0, 0.0005, 0, 1}, {0, 0, 0.0005, 1}, {0.0003, 0.0003, 0.0003, 1}};
  const std::size_t sizes[] = {20 * 1000, 1, 3000};
  int received = 0, lost = 0;
  for (unsigned seed = 1; seed <= 3; ++seed) {
    for (const TvxNullModem::Faults& kind : kinds) {
      for (const bool streaming : {false, true}) {
        std::cout << "seed " << seed << " drop " << kind.dropRate << " flip " << kind.flipRate
                  << " dup " << kind.duplicateRate << (streaming ? " YMODEM-g" : "") << "\n";
        SCOPED_TRACE(seed);
        const std::string src = MakeTempDir("ym-h-src"), dst = MakeTempDir("ym-h-dst");
        std::map<std::string, std::string> sent;
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
          const std::string name = "f" + std::to_string(i) + ".bin";
          sent[name] = RandomBytes(sizes[i], seed * 10 + static_cast<unsigned>(i));
          WriteAll(src + "/" + name, sent[name]);
        }
        TvxNullModem modem("/virtual/ymodem-h-A", "/virtual/ymodem-h-B");
        TvxNullModem::Faults f = kind;
        f.seed = seed;
        modem.SetFaults(0, f);
        f.seed = seed + 100;
        modem.SetFaults(1, f);
        YModemSide sender(modem.Name(0), 95), receiver(modem.Name(1), 96);
        for (YModemSide* s : {&sender, &receiver}) {
          s->ymodem.SetTimeout(200);
          s->ymodem.SetErrorLimit(60);
        }
        receiver.ymodem.SetDefaultPath(dst);
        receiver.ymodem.SetStreaming(streaming);
        sender.ymodem.SendFiles(src + "/f*.bin");
        receiver.ymodem.ReceiveFiles();
        ASSERT_TRUE(WaitUntil([&] { return sender.Ended() && receiver.Ended(); }, 120000));
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
        // An ACK names no block: only a line that duplicates bytes may pass one for another.
        if (kind.duplicateRate == 0) {
          for (const std::string& path : sender.Complete()) {
            EXPECT_EQ(held.count(BaseName(path)), 1u)
                << "the sender reports " << path << ", which the receiver lacks";
          }
        }
        received += static_cast<int>(held.size());
        lost += static_cast<int>(sent.size() - held.size());
      }
    }
  }
  std::cout << received << " files delivered, " << lost << " not\n";
  EXPECT_GT(received, 0);
}
