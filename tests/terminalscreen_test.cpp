// The terminal screen model: what received bytes make of the pane's text, fed as a terminal
// would get them, in one piece or split anywhere.
#include <gtest/gtest.h>

#include <QString>
#include <random>
#include <vector>

#include "support/testseed.h"
#include "vxcomm/widgets/terminalscreen.h"

using vxcomm::TvxScreenEdit;
using vxcomm::TvxTerminalScreen;

namespace {

// A pane as a list of lines, changed only by the model's edits.
struct Pane {
  std::vector<std::u32string> lines{U""};

  void Apply(const TvxScreenEdit& edit) {
    ASSERT_LE(static_cast<std::size_t>(edit.ReplacedLines), lines.size());
    ASSERT_EQ(edit.ReplacedLines == 0, edit.Lines.empty());
    if (edit.ReplacedLines == 0) return;
    const std::size_t first = lines.size() - static_cast<std::size_t>(edit.ReplacedLines);
    ASSERT_LE(static_cast<std::size_t>(edit.KeptColumns), lines[first].size());
    std::u32string kept = lines[first].substr(0, static_cast<std::size_t>(edit.KeptColumns));
    lines.resize(first);
    lines.insert(lines.end(), edit.Lines.begin(), edit.Lines.end());
    lines[first] = kept + lines[first];
  }
  std::string Text() const {
    QString text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) text += '\n';
      text += QString::fromUcs4(lines[i].data(), static_cast<qsizetype>(lines[i].size()));
    }
    return text.toStdString();
  }
};

struct Case {
  const char* name;
  std::vector<std::string> feeds;  // the receive events, in order
  std::string shown;               // the pane's text, UTF-8, lines joined with LF
  vxcomm::TTerminalEncoding encoding = vxcomm::teUtf8;
  int rows = 24;
};

const Case kCases[] = {
    {"text", {"hello"}, "hello"},
    {"CR LF is one new line", {"ab\r\ncd"}, "ab\ncd"},
    {"LF alone starts a new line", {"ab\ncd"}, "ab\ncd"},
    {"CR LF split over two events", {"ab\r", "\ncd"}, "ab\ncd"},
    {"a lone CR returns, what follows overwrites", {"hello\rJe"}, "Jello"},
    {"BS moves left one character", {"abc\bX"}, "abX"},
    {"BS stops at the start of the line", {"ab\b\b\bX"}, "Xb"},
    {"BS space BS erases as a shell echoes it", {"abc\b \b"}, "ab "},
    {"BEL shows nothing", {"a\ab"}, "ab"},
    {"NUL shows nothing", {std::string("a\0b", 3)}, "ab"},
    {"Tab goes to the next stop of eight", {"a\tb"}, "a       b"},
    {"SGR colours and bold are consumed", {"\x1b[1;31mred\x1b[0m"}, "red"},
    {"SGR split over three events", {"\x1b[", "1;3", "1mred"}, "red"},
    {"split right after ESC", {"a\x1b", "[0mb"}, "ab"},
    {"unknown and private CSI are consumed", {"\x1b[?25lx\x1b[5 qy\x1b[6nz"}, "xyz"},
    {"OSC ends with BEL or ST", {"\x1b]0;title\ax\x1b]2;t\x1b\\y"}, "xy"},
    {"other escapes are consumed",
     {"\x1b(Ba\x1b"
      "7b\x1b=c"},
     "abc"},
    {"EL 0 erases to the end of the line", {"hello\x1b[3D\x1b[K"}, "he"},
    {"EL 1 erases to the start, cursor included", {"hello\x1b[3D\x1b[1K"}, "   lo"},
    {"EL 2 erases the line, the cursor stays", {"hello\x1b[2Kx"}, "     x"},
    {"CUU and write", {"one\r\ntwo\x1b[AX"}, "oneX\ntwo"},
    {"CUD makes the lines it reaches", {"a\x1b[2Bb"}, "a\n\n b"},
    {"CUF beyond the end pads", {"a\x1b[3Cb"}, "a   b"},
    {"CUB stops at the start", {"ab\x1b[9DX"}, "Xb"},
    {"CUP within the screen", {"one\r\ntwo\r\nthree\x1b[2;2HX"}, "one\ntXo\nthree"},
    {"CUP without parameters is home", {"one\r\ntwo\x1b[HX"}, "Xne\ntwo"},
    {"ED 0 erases below", {"one\r\ntwo\r\nthree\x1b[2;2H\x1b[J"}, "one\nt"},
    {"ED 1 erases above", {"one\r\ntwo\r\nthree\x1b[2;2H\x1b[1J"}, "\n  o\nthree"},
    {"home and ED 2 clear the screen", {"one\r\ntwo\x1b[H\x1b[2Jnew"}, "new"},
    {"ED 2 keeps the cursor where it was", {"one\r\ntwo\x1b[2Jx"}, "\n   x"},
    {"UTF-8", {"\xc3\xa4\xc3\xb6 \xe2\x82\xac"}, "äö €"},
    {"UTF-8 split c3 | a4", {"\xc3", "\xa4"}, "ä"},
    {"UTF-8 euro split in three", {"\xe2", "\x82", "\xac"}, "€"},
    {"UTF-8 four bytes", {"\xf0\x9f\x98", "\x80"}, "\U0001F600"},
    {"invalid byte shows as replacement",
     {"a\xff"
      "b"},
     "a\uFFFDb"},
    {"broken sequence, then the byte itself", {"\xc3", "a"}, "\uFFFDa"},
    {"overlong form", {"\xc0\xaf"}, "\uFFFD\uFFFD"},
    {"overlong three-byte form", {"\xe0\x80\xaf"}, "\uFFFD"},
    {"surrogate", {"\xed\xa0\x80"}, "\uFFFD"},
    {"beyond U+10FFFF", {"\xf4\x90\x80\x80"}, "\uFFFD"},
    {"stray continuation byte", {"\xa4"}, "\uFFFD"},
    {"Latin-1", {"\xe4\xf6"}, "äö", vxcomm::teLatin1},
    {"Latin-1 C1 controls show nothing",
     {"a\x85"
      "b"},
     "ab",
     vxcomm::teLatin1},
    {"the screen is the last lines",
     {"1\r\n2\r\n3\r\n4\x1b[1;1HX"},
     "1\nX\n3\n4",
     vxcomm::teUtf8,
     3},
    {"history is out of reach", {"1\r\n2\r\n3\r\n4", "\x1b[9AX"}, "1\n2X\n3\n4", vxcomm::teUtf8, 3},
    {"CUD stops at the screen's last line",
     {"1\x1b[9B"
      "2"},
     "1\n\n 2",
     vxcomm::teUtf8,
     3},
    {"an unended OSC gives up after 256 characters",
     {"\x1b]0;" + std::string(300, 'n') + "\r\nshown"},
     std::string(302 - 256, 'n') + "\nshown"},
    {"an unended CSI gives up after 256 parameter characters",
     {"\x1b[" + std::string(300, '1') + "m"},
     std::string(300 - 256 - 1, '1') + "m"},
    {"huge parameters stay in bounds", {"\x1b[99999999;99999999Hx\r\x1b[99999999Ay"}, ""},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ScreenTable : public testing::TestWithParam<Case> {};

}  // namespace

TEST_P(ScreenTable, ShowsWhatATerminalShows) {
  const Case& c = GetParam();
  TvxTerminalScreen screen(c.encoding, c.rows);
  Pane pane;
  for (const std::string& feed : c.feeds) pane.Apply(screen.Feed(feed));
  if (std::string(c.name) == "huge parameters stay in bounds") {
    // The cursor went to the screen's last line and the column limit, not beyond.
    ASSERT_EQ(pane.lines.size(), 24u);
    EXPECT_EQ(pane.lines[0], U"y");
    EXPECT_EQ(pane.lines[23].size(), 1024u);
    EXPECT_EQ(pane.lines[23].back(), U'x');
    return;
  }
  EXPECT_EQ(pane.Text(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Terminal, ScreenTable, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST(TerminalScreen, TheCursorIsWhereTheNextCharacterGoes) {
  TvxTerminalScreen screen;
  TvxScreenEdit edit = screen.Feed("one\r\ntwo\r\nthree");
  EXPECT_EQ(edit.CursorLine, 0);
  EXPECT_EQ(edit.CursorColumn, 5);
  edit = screen.Feed("\x1b[1;2H");
  EXPECT_EQ(edit.ReplacedLines, 0) << "only the cursor moved";
  EXPECT_EQ(edit.CursorLine, 2);
  EXPECT_EQ(edit.CursorColumn, 1);
  EXPECT_FALSE(edit.Bell);
  EXPECT_TRUE(screen.Feed("\a").Bell);
}

// A line that only grows is not sent again: each edit carries its new characters.
TEST(TerminalScreen, ALongLineCostsOnlyItsNewPart) {
  TvxTerminalScreen screen;
  Pane pane;
  std::string expected;
  for (int i = 0; i < 100; ++i) {
    const TvxScreenEdit edit = screen.Feed("0123456789");
    ASSERT_EQ(edit.ReplacedLines, 1);
    EXPECT_EQ(edit.KeptColumns, i * 10);
    ASSERT_EQ(edit.Lines, std::vector<std::u32string>{U"0123456789"});
    pane.Apply(edit);
    expected += "0123456789";
  }
  EXPECT_EQ(pane.Text(), expected);
  const TvxScreenEdit edit = screen.Feed("\r\nnext");
  EXPECT_EQ(edit.KeptColumns, 1000) << "the long line is kept whole";
  EXPECT_EQ(edit.Lines, (std::vector<std::u32string>{U"", U"next"}));
}

TEST(TerminalScreen, ResetContinuesOnThePanesLastLine) {
  TvxTerminalScreen screen;
  Pane pane;
  pane.lines = {U"earlier", U"prompt> "};
  screen.Reset(U"prompt> ");
  pane.Apply(screen.Feed("ls\r\nfile"));
  EXPECT_EQ(pane.Text(), "earlier\nprompt> ls\nfile");
  screen.Reset(U"x");
  pane.lines = {U"x"};
  pane.Apply(screen.Feed("\xa4"));
  EXPECT_EQ(pane.Text(), "x\uFFFD") << "a half character from before the reset is dropped";
}

// Wherever a stream is cut into receive events, the pane ends the same.
TEST(TerminalScreen, SplittingTheStreamChangesNothing) {
  const unsigned seed = TestSeed("TerminalScreen.SplittingTheStreamChangesNothing");
  std::mt19937 random(seed);
  const std::string pieces[] = {"ab",       "\r\n",      "\r",         "\n",           "\b",
                                "\t",       "\a",        "\xc3\xa4",   "\xe2\x82\xac", "\xff",
                                "\x1b[2A",  "\x1b[1;3H", "\x1b[K",     "\x1b[1K",      "\x1b[J",
                                "\x1b[2J",  "\x1b[31m",  "\x1b]0;t\a", "\x1b[3C",      "\x1b[D",
                                "\x1b[?7h", "xyz"};
  for (int round = 0; round < 200; ++round) {
    std::string stream;
    const int count = std::uniform_int_distribution<int>(1, 40)(random);
    for (int i = 0; i < count; ++i)
      stream +=
          pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(random)];
    TvxTerminalScreen whole(vxcomm::teUtf8, 5);
    Pane once;
    once.Apply(whole.Feed(stream));
    TvxTerminalScreen split(vxcomm::teUtf8, 5);
    Pane cut;
    for (std::size_t at = 0; at < stream.size();) {
      const std::size_t len = std::uniform_int_distribution<std::size_t>(1, 4)(random);
      cut.Apply(split.Feed(std::string_view(stream).substr(at, len)));
      at += len;
    }
    ASSERT_EQ(cut.Text(), once.Text()) << "seed " << seed << " round " << round;
  }
}
