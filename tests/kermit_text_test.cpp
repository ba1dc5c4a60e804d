// Text, names and the self-description between components: a text file sent as text and
// stored as a Unix file whatever the packets, a converted name stored in lower case, the
// automatic choice of text or binary, the server commands a receiver refuses, and force-3.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <string>
#include <vector>

#include "support/fedkermit.h"
#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/kermitwire.h"
#include "support/ptypair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

using namespace kermitfiles;
using kermitwire::Packet;

namespace {

std::string WithoutCr(std::string s) {
  std::erase(s, '\r');
  return s;
}

std::string Canonical(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Text files whose line ends fall on every place of a packet: only line ends, short lines,
// random lines, lines already ended with CR LF, and no line end at all.
std::vector<std::pair<std::string, std::string>> TextFiles() {
  std::string lines, random;
  for (int i = 0; i < 700; ++i) lines += std::string(static_cast<std::size_t>(i % 13), 'x') + "\n";
  const std::string bytes = RandomBytes(20000, 7);
  for (char c : bytes) random += static_cast<unsigned char>(c) % 9 == 0 ? '\n' : 'a' + (c & 15);
  std::string dos;
  for (int i = 0; i < 300; ++i) dos += "line " + std::to_string(i) + "\r\n";
  return {{"newlines.txt", std::string(5000, '\n')},
          {"lines.txt", lines},
          {"random.txt", random},
          {"dos.txt", dos},
          {"noend.txt", "no line end"},
          {"empty.txt", ""}};
}

struct Pair {
  Pair() {
    src = MakeTempDir("kt-src");
    dst = MakeTempDir("kt-dst");
    for (TvxKermit* k : {&sender, &receiver}) {
      k->SetActive(true);
      k->SetTimeout(1000);
      k->OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
        raise = false;
        fatal.push_back(msg);
      };
    }
    receiver.SetDefaultPath(dst);
  }
  bool Run(const std::string& mask) {
    link.sentByA.clear();
    sender.SendFiles(mask);
    return link.WaitForSessionEnd(60000) && fatal.empty();
  }
  std::string src, dst;
  TvxKermit sender, receiver;
  KermitLink link{&sender, &receiver};
  std::vector<std::string> fatal;
};

// The extensions a session may use, each with text: none, long packets with repeat counts,
// a window, streaming.
struct Extensions {
  const char* name;
  bool longPackets, repeats;
  int window;
  bool streaming;
};

class KermitTextTransfer : public ::testing::TestWithParam<Extensions> {};

}  // namespace

TEST_P(KermitTextTransfer, TextCrossesInCanonicalFormAndIsStoredAsTheUnixFile) {
  for (const bool convert : {false, true}) {
    Pair p;
    for (TvxKermit* k : {&p.sender, &p.receiver}) {
      k->SetLongPackets(GetParam().longPackets);
      k->SetMaxLongPacketLength(500);
      k->SetRepeatCounts(GetParam().repeats);
      k->SetWindowSize(GetParam().window);
      k->SetStreaming(GetParam().streaming);
    }
    p.sender.SetFileType(ftText);
    p.receiver.SetTextConversion(convert);
    const auto files = TextFiles();
    for (const auto& [name, bytes] : files) WriteAll(p.src + "/" + name, bytes);
    ASSERT_TRUE(p.Run(p.src + "/*.txt")) << (p.fatal.empty() ? "" : p.fatal[0]);
    for (const auto& [name, bytes] : files) {
      // Without the conversion the receiver keeps the line's form: one CR before each LF,
      // never two, wherever a packet ended.
      const std::string expected = convert ? WithoutCr(bytes) : Canonical(bytes);
      EXPECT_TRUE(ReadAll(p.dst + "/" + name) == expected) << name << " convert " << convert;
    }
    EXPECT_TRUE(p.sender.FileIsText());
    EXPECT_EQ(p.receiver.FileIsText(), convert);
  }
}

INSTANTIATE_TEST_SUITE_P(Sessions, KermitTextTransfer,
                         ::testing::Values(Extensions{"classic", false, false, 1, false},
                                           Extensions{"long_repeats", true, true, 1, false},
                                           Extensions{"window", true, false, 8, false},
                                           Extensions{"streaming", true, true, 1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KermitTextChoice, AutomaticModeSendsBinaryToALikeSystemAndOtherwiseByContent) {
  const std::string text = "plain text\nsecond line\n", nul("text\0with nul\n", 14);
  for (const bool like : {false, true}) {
    Pair p;
    p.sender.SetFileType(ftAuto);
    p.receiver.SetTextConversion(true);
    p.receiver.SetDescribeSystem(like);
    WriteAll(p.src + "/a.txt", text);
    WriteAll(p.src + "/b.txt", nul);
    ASSERT_TRUE(p.Run(p.src + "/a.txt"));
    EXPECT_EQ(p.sender.PeerIsLikeSystem(), like);
    EXPECT_EQ(p.sender.FileIsText(), !like);
    EXPECT_EQ(ReadAll(p.dst + "/a.txt"), text);
    ASSERT_TRUE(p.Run(p.src + "/b.txt"));
    EXPECT_FALSE(p.sender.FileIsText());
    EXPECT_TRUE(ReadAll(p.dst + "/b.txt") == nul);
  }
}

TEST(KermitTextChoice, BinaryIsTheDefaultAndCrossesByteForByte) {
  Pair p;
  p.receiver.SetTextConversion(true);
  const std::string dos = "dos line\r\nsecond\r\n";
  WriteAll(p.src + "/dos.txt", dos);
  ASSERT_TRUE(p.Run(p.src + "/dos.txt"));
  EXPECT_FALSE(p.sender.FileIsText());
  EXPECT_FALSE(p.receiver.FileIsText());
  EXPECT_EQ(ReadAll(p.dst + "/dos.txt"), dos);
  // The component's A packet is the one it always sent: no type, no system.
  ASSERT_GE(p.link.sentByA.size(), 3u);
  EXPECT_EQ(p.link.sentByA[2], Packet('A', 2, "!!1", 0));
}

TEST(KermitNames, AConvertedNameFromASenderThatIsNoLikeSystemIsStoredInLowerCase) {
  for (const bool describe : {false, true}) {
    Pair p;
    p.receiver.SetNameConversion(true);
    p.sender.SetDescribeSystem(describe);
    WriteAll(p.src + "/UPPER.TXT", "u");
    WriteAll(p.src + "/MixedCase.Txt", "m");
    ASSERT_TRUE(p.Run(p.src + "/*"));
    EXPECT_EQ(p.receiver.PeerIsLikeSystem(), describe);
    // A like system sends names as they are; anyone else in converted form.
    EXPECT_EQ(ReadAll(p.dst + (describe ? "/UPPER.TXT" : "/upper.txt")), "u");
    EXPECT_FALSE(Exists(p.dst + (describe ? "/upper.txt" : "/UPPER.TXT")));
    EXPECT_EQ(ReadAll(p.dst + "/MixedCase.Txt"), "m");
  }
}

namespace {

// One receiving component fed by hand, its answers collected.
class KermitHandFed : public ::testing::Test {
 protected:
  void Feed(const std::string& bytes) { fed.Feed(bytes); }
  std::string dst = MakeTempDir("kt-hand");
  FedKermit fed{dst};
  TvxKermit& k = fed.k;
  std::vector<std::string>& replies = fed.replies;
};

}  // namespace

TEST_F(KermitHandFed, ServerCommandsAreRefusedAtOnceWhenAskedAndIgnoredOtherwise) {
  const std::string notAServer = TvxKermit::kNotAServer;
  // A client's packets as ckermit sends them for get, remote dir, finish and bye.
  const std::vector<std::string> commands = {Packet('I', 0, "~/ @-#Y3~^>J)0___F\"U1@", 0),
                                             Packet('R', 1, "foo", 0),
                                             Packet('G', 2, "D", 0),
                                             Packet('G', 3, "F", 0),
                                             Packet('G', 4, "L", 0),
                                             Packet('C', 5, "ls", 0),
                                             Packet('K', 6, "dir", 0)};
  for (const std::string& c : commands) Feed(c);
  EXPECT_TRUE(replies.empty());
  k.SetRefuseServerCommands(true);
  // A session that used type 3 before does not change the check a client starts with.
  Feed(Packet('S', 0, "~% @-#Y3 (", 0));
  Feed(Packet('B', 1, "", 2));
  ASSERT_EQ(k.State(), fsListen);
  replies.clear();
  for (std::size_t i = 0; i < commands.size(); ++i) {
    Feed(commands[i]);
    ASSERT_EQ(replies.size(), i + 1) << commands[i];
    EXPECT_EQ(replies[i], Packet('E', static_cast<unsigned>(i), notAServer, 0));
    EXPECT_EQ(k.State(), fsListen);
  }
  // The next session starts as usual.
  Feed(Packet('S', 0, "~% @-#Y3 (", 0));
  EXPECT_EQ(k.State(), fsReceive);
}

TEST_F(KermitHandFed, ForceThreeIsTakenFromTheSendInitOnAndAnsweredSo) {
  Feed(Packet('S', 0, "~% @-#Y5 (", 2));
  ASSERT_EQ(k.State(), fsReceive);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], Packet('Y', 0, "~% @-#Y5 (", 2));
  EXPECT_EQ(k.CheckIndex(), 2);
  Feed(Packet('F', 1, "f.bin", 2));
  Feed(Packet('D', 2, "abc", 2));
  Feed(Packet('Z', 3, "", 2));
  Feed(Packet('B', 4, "", 2));
  EXPECT_EQ(ReadAll(dst + "/f.bin"), "abc");
  EXPECT_EQ(replies.back(), Packet('Y', 4, "", 2));
  // A Send-Init checked with type 3 that does not ask for force-3 is damage.
  replies.clear();
  Feed(Packet('S', 0, "~% @-#Y3 (", 2));
  EXPECT_TRUE(replies.empty());
  EXPECT_EQ(k.State(), fsListen);
}

TEST_F(KermitHandFed, TheFileTypeDecidesWhatIsStoredWhenTextIsConverted) {
  k.SetTextConversion(true);
  Feed(Packet('S', 0, "~% @-#Y1 (", 0));
  const std::string canonical = "ab\r\ncd\r\n";
  // Text, binary, no type at all.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\"#AMJ!!1", "ab\ncd\n"}, {"\"\"B8!!1", canonical}, {"!!1", canonical}};
  unsigned seq = 1;
  int n = 0;
  for (const auto& [attributes, stored] : cases) {
    const std::string name = "f" + std::to_string(n++);
    Feed(Packet('F', seq++, name, 0));
    Feed(Packet('A', seq++, attributes, 0));
    Feed(Packet('D', seq++, "ab#M#Jcd#M#J", 0));
    Feed(Packet('Z', seq++, "", 0));
    EXPECT_EQ(ReadAll(dst + "/" + name), stored) << attributes;
  }
}

TEST_F(KermitHandFed, AFileThatDiffersFromItsAnnouncedLengthIsNotAcknowledged) {
  for (const bool check : {false, true}) {
    k.SetCheckLengths(check);
    k.SetTextConversion(true);
    replies.clear();
    Feed(Packet('S', 0, "~% @-#Y1 (", 0));
    // 5 bytes of 10 announced, then a text file of its Unix length sent in canonical form.
    Feed(Packet('F', 1, "short.bin", 0));
    Feed(Packet('A', 2, "!!11\"10", 0));
    Feed(Packet('D', 3, "abcde", 0));
    Feed(Packet('Z', 4, "", 0));
    if (check) {
      ASSERT_EQ(k.State(), fsListen);
      EXPECT_EQ(replies.back(), Packet('E', 4, "short.bin: 5 bytes arrived, 10 announced.", 0));
      continue;
    }
    EXPECT_EQ(replies.back(), Packet('Y', 4, "", 0));
    Feed(Packet('F', 5, "dos.txt", 0));
    Feed(Packet('A', 6, "\"#AMJ!!11\"10", 0));
    Feed(Packet('D', 7, "ab#M#M#Jcd#M#M#J", 0));
    Feed(Packet('Z', 8, "", 0));
    EXPECT_EQ(replies.back(), Packet('Y', 8, "", 0));
    EXPECT_EQ(ReadAll(dst + "/dos.txt"), "ab\ncd\n");
    Feed(Packet('B', 9, "", 0));
  }
  // Checked, the text file passes too.
  Feed(Packet('S', 0, "~% @-#Y1 (", 0));
  Feed(Packet('F', 1, "dos2.txt", 0));
  Feed(Packet('A', 2, "\"#AMJ!!11\"10", 0));
  Feed(Packet('D', 3, "ab#M#M#Jcd#M#M#J", 0));
  Feed(Packet('Z', 4, "", 0));
  EXPECT_EQ(replies.back(), Packet('Y', 4, "", 0));
}
