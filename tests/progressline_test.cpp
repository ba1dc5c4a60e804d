// The progress line of the programs: what it says for sizes, rates, time left, errors and
// repeats, and how it writes to a terminal and to a log; and the far end's text kept for a
// transfer that fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "farendtext.h"
#include "progressline.h"

TEST(ProgressLine, SaysDoneTotalShareRateTimeLeftAndErrors) {
  struct Case {
    std::int64_t done, total;
    double seconds;
    int errors;
    const char* line;
  };
  const Case cases[] = {
      {0, 4194304, 0, 0, "f  0 B of 4.0 MiB  0%"},
      {1048576, 4194304, 2, 0, "f  1.0 MiB of 4.0 MiB  25%  512.0 KiB/s  0:06 left"},
      {4194304, 4194304, 4, 1, "f  4.0 MiB of 4.0 MiB  100%  1.0 MiB/s  0:00 left  1 error"},
      {500, 1000, 1, 3, "f  500 B of 1000 B  50%  500 B/s  0:01 left  3 errors"},
      {90000, 900000, 0.5, 0, "f  87.9 KiB of 878.9 KiB  10%  175.8 KiB/s  0:05 left"},
      // A total below what arrived is not known (a peer that sent no length).
      {2048, 0, 1, 0, "f  2.0 KiB  2.0 KiB/s"},
      {3LL << 30, 6LL << 30, 3600, 0, "f  3.0 GiB of 6.0 GiB  50%  873.8 KiB/s  60:00 left"},
      {0, 0, 1, 0, "f  0 B of 0 B  100%"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatProgress("f", c.done, c.total, c.seconds, c.errors), c.line) << c.line;
  // A packet repeated in a row: the stall says so.
  EXPECT_EQ(FormatProgress("f", 193, 153600, 55, 10, 4),
            "f  193 B of 150.0 KiB  0%  4 B/s  728:38 left  10 errors  retry 4");
}

namespace {

std::string Written(bool terminal, void (*use)(TProgressLine&)) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&text, &size);
  {
    TProgressLine line(out, terminal);
    use(line);
  }
  std::fclose(out);
  std::string s(text, size);
  std::free(text);
  return s;
}

}  // namespace

TEST(ProgressLine, OnATerminalOneLineIsRewrittenAndEndedBeforeOtherOutput) {
  const std::string tty = Written(true, [](TProgressLine& p) {
    p.Start("/some/dir/a.bin");
    p.Update(10, 100, 0);
    p.Break();
    p.Update(100, 100, 0);  // too soon after the last: not shown
    p.Finish(100, 0);
  });
  EXPECT_EQ(tty.rfind("\ra.bin  10 B of 100 B  10%", 0), 0u) << tty;
  EXPECT_EQ(tty.find("100 B of"), tty.rfind("100 B of")) << "shown once, at the end: " << tty;
  EXPECT_NE(tty.find("\n\ra.bin  100 B of 100 B  100%"), std::string::npos) << tty;
  EXPECT_EQ(tty.back(), '\n');

  const std::string log = Written(false, [](TProgressLine& p) {
    p.Start("b.bin");
    p.Update(10, 100, 0);
    p.Update(20, 100, 0);
    p.Update(100, 100, 0);
    p.Finish(100, 2);
    p.Update(100, 100, 2);  // after the end: nothing
  });
  EXPECT_EQ(log.find('\r'), std::string::npos) << log;
  EXPECT_EQ(log.rfind("b.bin  10 B of 100 B  10%", 0), 0u) << log;
  EXPECT_EQ(log.find("20 B"), std::string::npos) << log;
  EXPECT_NE(log.find("\nb.bin  100 B of 100 B  100%"), std::string::npos) << log;
  EXPECT_NE(log.find("2 errors\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("100%", log.find("100%") + 1), std::string::npos) << "one end line";
}

TEST(FarEndText, KeepsTheTextBetweenPacketsAndShowsItsLastLines) {
  TFarEndText far;
  EXPECT_EQ(far.LastLines(), "");
  const std::string bytes =
      "\x01#Y~! @-#N1N\" ~~#\r"  // a packet: not text
      "## Ready for binary\r\n"
      "\x01%\"Y.5!\r"  // another, its end a CR
      "  CACHE: Misaligned  \r\n\r\n"
      "\x01%#Y/R9\n"  // one ended by LF
      "=> \x1b[D";
  // Fed in every split, the same account.
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    far.Clear();
    far.Feed(bytes.data(), cut);
    far.Feed(bytes.data() + cut, bytes.size() - cut);
    EXPECT_EQ(far.LastLines(), "## Ready for binary | CACHE: Misaligned | => \\x1b[D") << cut;
  }
  EXPECT_EQ(far.LastLines(1), "=> \\x1b[D");
  // Bounded: only the end of a flood is kept, and a long line is shown by its end.
  far.Clear();
  const std::string flood(10 * TFarEndText::kKeep, 'x');
  far.Feed(flood.data(), flood.size());
  far.Feed("=> ", 3);
  EXPECT_EQ(far.LastLines(), "..." + std::string(118, 'x') + "=>");
}
