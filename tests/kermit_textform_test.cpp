// Text and names as Kermit carries them: canonical text (CR LF) and the Unix file it is
// stored as, the look of a text file, names in converted form, the file-type and system-ID
// attributes, and the Send-Init that names this side a Unix system or asks for force-3.
#include <gtest/gtest.h>

#include <string>

#include "support/kermitfiles.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit/attributes.h"
#include "vxcomm/vxkermit/filename.h"
#include "vxcomm/vxkermit/sendinit.h"
#include "vxcomm/vxkermit/textform.h"

using namespace vxkermit;
using kermitfiles::U;

namespace {

std::string Stripped(std::string s) {
  auto* p = reinterpret_cast<std::uint8_t*>(s.data());
  s.resize(StripCarriageReturns(p, s.size()));
  return s;
}

std::string Expanded(const std::string& s) {
  std::string out(2 * s.size(), '\0');
  out.resize(ExpandLineEnds(U(s), s.size(), reinterpret_cast<std::uint8_t*>(out.data())));
  return out;
}

std::string Block(const TInitBlock& b) {
  return {reinterpret_cast<const char*>(b.data()), b.size};
}

}  // namespace

TEST(KermitTextForm, CanonicalTextIsStoredWithoutAnyCarriageReturn) {
  // As both standard peers store text: every CR goes, a lone one too.
  EXPECT_EQ(Stripped("ab\r\ncd\r\n"), "ab\ncd\n");
  EXPECT_EQ(Stripped("a\rb\r\r\nc\nd\r"), "ab\nc\nd");
  EXPECT_EQ(Stripped(""), "");
  EXPECT_EQ(Stripped("\r\r\r"), "");
  // Everything else stays, Ctrl-Z, NUL and eighth-bit bytes included.
  EXPECT_EQ(Stripped(std::string("x\0\x1a\xe4\r\n", 6)), std::string("x\0\x1a\xe4\n", 5));
}

TEST(KermitTextForm, AUnixTextFileGoesWithACarriageReturnBeforeEveryLineFeed) {
  EXPECT_EQ(Expanded("ab\ncd\n"), "ab\r\ncd\r\n");
  // A CR already in the file stays and gets the LF's CR besides, as standard peers send it.
  EXPECT_EQ(Expanded("dos\r\n"), "dos\r\r\n");
  EXPECT_EQ(Expanded("\n\n"), "\r\n\r\n");
  EXPECT_EQ(Expanded("no end"), "no end");
  for (const char* s : {"ab\ncd\n", "dos\r\n", "\n\n\n", "x", ""})
    EXPECT_EQ(Stripped(Expanded(s)), Stripped(s)) << s;
}

TEST(KermitTextForm, TheFileBytesOfAPrefixOfCanonicalTextSkipTheAddedCarriageReturns) {
  const std::string e = Expanded("ab\ncd\n");  // "ab\r\ncd\r\n"
  EXPECT_EQ(SourceLength(U(e), 0), 0u);
  EXPECT_EQ(SourceLength(U(e), 2), 2u);
  EXPECT_EQ(SourceLength(U(e), 4), 3u);
  EXPECT_EQ(SourceLength(U(e), e.size()), 6u);
  // A prefix that ends on the CR put before an LF it leaves out splits a line end.
  EXPECT_FALSE(SplitsLineEnd(U(e), 2, e.size()));
  EXPECT_TRUE(SplitsLineEnd(U(e), 3, e.size()));
  EXPECT_FALSE(SplitsLineEnd(U(e), 4, e.size()));
  EXPECT_FALSE(SplitsLineEnd(U(e), e.size(), e.size()));
  EXPECT_FALSE(SplitsLineEnd(U(e), 0, e.size()));
}

TEST(KermitTextForm, TextIsWhatHasNoNulAndNoControlCharacterButThoseOfText) {
  const std::string text[] = {"",
                              "plain ASCII\n",
                              "tabs\tand\fform feeds\vand\bback\x1b[0m\r\n",
                              "gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac\n",  // UTF-8
                              "gr\xfc\xdf\x65\n",                       // Latin-1
                              "old DOS text\r\n\x1a"};
  for (const std::string& s : text) EXPECT_TRUE(LooksLikeText(U(s), s.size())) << s;
  const std::string binary[] = {std::string("text with\0nul\n", 14), "bell\a", "\x01\x02\x03",
                                "del\x7f", "\x1c"};
  for (const std::string& s : binary) EXPECT_FALSE(LooksLikeText(U(s), s.size())) << s;
}

TEST(KermitTextForm, AConvertedNameIsStoredInLowerCaseAndAnyOtherAsItIs) {
  const std::pair<std::string, std::string> cases[] = {
      {"TEXT.TXT", "text.txt"},
      {"ABC123_X-Y.TAR.GZ", "abc123_x-y.tar.gz"},
      {"README", "readme"},
      {"\xc3\x84\x42\x43.TXT", "\xc3\x84\x62\x63.txt"},  // bytes outside ASCII stay
      {"MixedCase.Txt", "MixedCase.Txt"},
      {"Abc.TXT", "Abc.TXT"},
      {"text.txt", "text.txt"},
      {"123.456", "123.456"},
      {"", ""},
  };
  for (const auto& [sent, stored] : cases) EXPECT_EQ(LocalNameOfConverted(sent), stored) << sent;
}

TEST(KermitTextForm, TheFileTypeAndSystemAttributesAreBuiltAndRead) {
  EXPECT_EQ(SystemIdAttribute(), ".\"U1");
  EXPECT_EQ(FileTypeAttribute(true), "\"#AMJ");
  EXPECT_EQ(FileTypeAttribute(false), "\"\"B8");
  const std::pair<std::string, TFileType> cases[] = {
      // As a standard peer sends them.
      {".\"U1\"#AMJ#120261209 03:10:01!!11\"34", TFileType::Text},
      {".\"U1\"\"B8!!31$3000", TFileType::Binary},
      {"\"!I!!1", TFileType::Binary},
      {"!!1", TFileType::Unknown},
      {"\"!X!!1", TFileType::Unknown},
      {"", TFileType::Unknown},
  };
  for (const auto& [field, type] : cases)
    EXPECT_EQ(FileTypeOf(U(field), field.size()), type) << field;
}

TEST(KermitTextForm, ADescribedSendInitEndsWithWhatamiAndTheUnixSystemId) {
  const TInitParams p = OwnProposal(5000, 2, 'Y');
  // Without it the block is as it was.
  EXPECT_EQ(Block(MakeInitBlock(p, 0)), Block(MakeInitBlock(p, 0, 0, 1, false)));
  const std::string described =
      Block(MakeInitBlock(p, 0, kWhatamiBinary | kWhatamiLiteralNames, 1, true));
  // CAPAS, WINDO 1, blank MAXLX1 and MAXLX2, no checkpointing, WHATAMI, "U1".
  EXPECT_EQ(described.substr(9), "(!  0___F\"U1");
  EXPECT_EQ(ReadSystemId(U(described), described.size()), "U1");
  EXPECT_EQ(ReadWhatami(U(described), described.size()),
            kWhatamiValid | kWhatamiBinary | kWhatamiLiteralNames);
  // The Send-Init ckermit 10 sends, as seen on the line.
  const std::string ck = "~/ @-#Y3~^>J)0___F\"U1@";
  EXPECT_EQ(ReadSystemId(U(ck), ck.size()), "U1");
  // Blocks that stop before the ID, or whose length runs past them, carry none.
  for (const std::string& b :
       {std::string("~/ @-#Y3~^>J)0___F"), std::string("~/ @-#Y3~^>J)0___F%U1"),
        std::string("~/ @-#Y3 ("), std::string("~/ @-#Y3~^>J)0___F ")})
    EXPECT_EQ(ReadSystemId(U(b), b.size()), "") << b;
}

TEST(KermitTextForm, ForceThreeIsProposedReadAndCheckedWithTypeThreeFromTheFirstPacket) {
  const TInitParams own = OwnProposal(5000, 3, 'Y');
  EXPECT_EQ(own[ipChkt], '5');
  EXPECT_EQ(CheckIndexOf(own), 2);
  EXPECT_EQ(InitCheckIndexOf(own), 2);
  // ckermit's Send-Init with set block-check 5.
  const std::string ck = "~/ @-#Y5~^>J)0___F\"U1@";
  const TInitParams read = ReadInitParams(U(ck), ck.size());
  EXPECT_EQ(read[ipChkt], '5');
  EXPECT_EQ(AnswerSendInit(read, 'Y')[ipChkt], '5');
  // The classic types keep the type 1 check for the Send-Init; "B" and others fall back to 1.
  for (const char chkt : {'1', '2', '3'}) {
    std::string b = ck;
    b[ipChkt] = chkt;
    EXPECT_EQ(InitCheckIndexOf(ReadInitParams(U(b), b.size())), 0);
    EXPECT_EQ(CheckIndexOf(ReadInitParams(U(b), b.size())), chkt - '1');
  }
  std::string blankFree = ck;
  blankFree[ipChkt] = 'B';
  EXPECT_EQ(ReadInitParams(U(blankFree), blankFree.size())[ipChkt], '1');
}

TEST(KermitTextForm, ArrivedBytesAreHeldAgainstTheLengthsAnnounced) {
  struct Case {
    std::int64_t exact, k;
    TArrived arrived;
    bool agrees;
  };
  const Case cases[] = {
      // Binary: the exact length, else within the K (a sender rounds up or adds one).
      {34, 1, {34}, true},
      {34, 1, {33}, false},
      {34, 1, {35}, false},
      {-1, 3, {3000}, true},
      {-1, 3, {1025}, true},
      {-1, 3, {1024}, false},
      {-1, 3, {3073}, false},
      {-1, 1, {0}, true},
      {-1, 2, {1024}, true},
      {-1, -1, {123}, true},
      {67108864, 65537, {9'700'000}, false},
      // Text: the sender's Unix length (canonical less a CR per line), the canonical length
      // or what was stored; the K is not held against it.
      {18, 1, {16, true, 20, 2}, true},   // "dos line\r\n" x 2 sent as CR CR LF
      {34, 1, {34, true, 37, 3}, true},   // an LF file, announced by its length
      {37, 1, {34, true, 37, 3}, true},   // announced in canonical form
      {30, 1, {34, true, 37, 3}, false},  // cut short or grown
      {-1, 9, {34, true, 37, 3}, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LengthAgrees(c.exact, c.k, c.arrived), c.agrees)
        << c.exact << " " << c.k << " " << c.arrived.stored << " " << c.arrived.text;
  const std::string field = ".\"U1\"\"B8!!31$3000";
  EXPECT_EQ(SizeInK(U(field), field.size()), 3);
  EXPECT_EQ(SizeInK(U("1$3000"), 6), -1);
}
