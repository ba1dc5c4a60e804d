// A deterministic random driver: random and mutated packets fed to a receiving and to a
// sending TvxKermit, with the basic protocol and with every extension offered (long packets,
// repeat counts, minimal prefixing, recovery, streaming), two million inputs in all. Nothing
// may crash, raise past the component, trip a sanitizer, or create a file outside the
// receiving directory.
#include <gtest/gtest.h>

#include <QDir>
#include <random>

#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

using namespace kermitfiles;

namespace {

constexpr int kInputsPerRole = 500000;

class Fuzzer {
 public:
  // LongPackets: a share of the framed packets are long ones, up to 3000 data bytes.
  Fuzzer(unsigned seed, bool longPackets = false) : gen_(seed), long_(longPackets) {}

  // One input: usually a well-framed packet of a random type (so the dispatch is reached),
  // sometimes mutated, sometimes raw noise.
  std::string Next(int checkIndex) {
    const unsigned kind = gen_() % 10;
    if (kind == 0) return Noise();
    std::string p = Framed(checkIndex);
    if (kind >= 7) Mutate(p);
    return p;
  }

  unsigned Below(unsigned n) { return static_cast<unsigned>(gen_() % n); }

 private:
  std::string Noise() {
    std::string s(Below(300), '\0');
    for (auto& c : s) c = static_cast<char>(Below(4) == 0 ? 1 : gen_());
    return s;
  }

  std::string Data(char type) {
    static const std::vector<std::string> names = {
        "a.bin", "../up.bin", "/abs/x", "..", ".", "", "dir\\win", std::string("z\0y", 3)};
    if (type == 'F') return names[Below(static_cast<unsigned>(names.size()))];
    if (type == 'S' || type == 'Y') {
      std::string s(Below(16), '\0');
      for (auto& c : s) c = static_cast<char>(32 + Below(96));
      if (s.size() > 7 && Below(2)) s[7] = static_cast<char>('1' + Below(3));
      return s;
    }
    const bool big = long_ && Below(4) == 0;
    std::string s(Below(big ? 3000 : 120), '\0');
    static const char prefixes[] = "#&~";
    for (auto& c : s) c = Below(3) == 0 ? prefixes[Below(3)] : static_cast<char>(gen_());
    return s;
  }

  std::string Framed(int checkIndex) {
    static const char types[] = "SYNFADZBEXQ";
    const char type = types[Below(sizeof types - 1)];
    const std::string d = Data(type);
    const int k = type == 'S' ? 0 : (Below(8) == 0 ? static_cast<int>(Below(3)) : checkIndex);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(d.data());
    if (d.size() > vxkermit::MaxImageData(k)) {
      std::vector<std::uint8_t> buf(vxkermit::kLongDataPos + d.size() + 8);
      const std::size_t n = vxkermit::FrameLongPacket(buf.data(), static_cast<std::uint8_t>(type),
                                                      Below(64), bytes, d.size(), k);
      return std::string(reinterpret_cast<char*>(buf.data()), n);
    }
    std::uint8_t buf[vxkermit::kPacketImageSize];
    const std::size_t n =
        vxkermit::FramePacket(buf, static_cast<std::uint8_t>(type), Below(64), bytes, d.size(), k);
    return std::string(reinterpret_cast<char*>(buf), n);
  }

  void Mutate(std::string& p) {
    for (unsigned i = 0, n = 1 + Below(4); i < n && !p.empty(); ++i) {
      const std::size_t at = Below(static_cast<unsigned>(p.size()));
      switch (Below(5)) {
        case 0:
          p[at] = static_cast<char>(gen_());
          break;
        case 1:
          p.erase(at, 1);
          break;
        case 2:
          p.insert(at, 1, static_cast<char>(gen_()));
          break;
        case 3:
          if (p.size() > 1) p[1] = static_cast<char>(gen_());
          break;  // LEN
        default:
          p.resize(at);
          break;
      }
    }
  }

  std::mt19937 gen_;
  bool long_;
};

// A Send-Init block (or its answer) that offers every extension: long packets up to 9024
// bytes, attributes, recovery, "~" repeat counts, block check CrcOrdinal + 1 and, when
// Reliable, streaming.
std::string ExtendedInit(int crcOrdinal, bool reliable) {
  vxkermit::TInitParams p = vxkermit::OwnProposal(5000, crcOrdinal, 'Y', '~');
  p[vxkermit::ipCapas] = vxkermit::ToChar(vxkermit::kCapasAttributes | vxkermit::kCapasResend);
  const vxkermit::TInitBlock b = vxkermit::MakeInitBlock(
      p, 9024, reliable ? vxkermit::kWhatamiValid | vxkermit::kWhatamiStreaming : 0);
  return std::string(reinterpret_cast<const char*>(b.data()), b.size);
}

// Everything under Dir, as paths relative to it.
QStringList Tree(const std::string& dir) {
  QStringList all;
  QDir d(QString::fromStdString(dir));
  for (const QFileInfo& fi :
       d.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
    all << fi.fileName();
    if (fi.isDir())
      for (const QString& sub : Tree(fi.absoluteFilePath().toStdString()))
        all << fi.fileName() + "/" + sub;
  }
  return all;
}

struct Target {
  // Extended: every extension this side can offer is on.
  Target(const std::string& base, bool extended) {
    if (extended) {
      k.SetLongPackets(true);
      k.SetRepeatCounts(true);
      k.SetMinimalPrefixing(true);
      k.SetRecovery(true);
      k.SetExactLength(true);
      k.SetFileDates(true);
      k.SetStreaming(true);
      k.SetDescribeSystem(true);
      k.SetTextConversion(true);
      k.SetNameConversion(true);
      k.SetRefuseServerCommands(true);
      k.SetCheckLengths(true);
    }
    k.SetActive(true);
    k.SetDefaultPath(base + "/in");
    k.SetErrorLimit(1000000000);
    k.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
      raise = false;
    };
    k.OnDataSend = [this](TObject*, const void*, Cardinal n, bool, bool& handled) {
      handled = true;
      sent += n;
    };
  }
  void Feed(const std::string& bytes) {
    k.DataReceived(bytes.data(), static_cast<Cardinal>(bytes.size()));
  }

  TvxKermit k;
  std::size_t sent = 0;
};

}  // namespace

void FuzzReceiver(bool extended, unsigned seed) {
  const std::string base = MakeTempDir(extended ? "fuzz-recv-ext" : "fuzz-recv");
  QDir().mkpath(QString::fromStdString(base + "/in"));
  Target t(base, extended);
  Fuzzer f(seed, extended);
  std::printf("seed %u%s\n", seed, extended ? ", every extension" : "");
  int sessions = 0;
  std::size_t largest = 0;
  int streamed = 0;
  for (int i = 0; i < kInputsPerRole; ++i) {
    if (t.k.State() == fsListen && f.Below(4) == 0) {
      // A well-formed Send-Init (checked below) starts a receiving session.
      std::uint8_t buf[vxkermit::kPacketImageSize];
      const std::string init =
          extended ? ExtendedInit(static_cast<int>(f.Below(3)), f.Below(2) == 0)
                   : std::string("~% @-#Y") + static_cast<char>('1' + f.Below(3)) + " (";
      const std::size_t n = vxkermit::FramePacket(
          buf, 'S', 0, reinterpret_cast<const std::uint8_t*>(init.data()), init.size(), 0);
      t.Feed(std::string(reinterpret_cast<char*>(buf), n));
      sessions += t.k.State() == fsReceive;
    }
    ASSERT_NO_THROW(t.Feed(f.Next(t.k.CheckIndex()))) << i;
    largest = std::max(largest, t.k.LargestPacketReceived());
    streamed += t.k.StreamingAgreed() && t.k.State() == fsReceive;
    if (f.Below(1000) == 0) {
      ASSERT_NO_THROW(t.k.DoTimeout());
    }
    if (f.Below(2000) == 0) t.k.SkipFile(f.Below(2), f.Below(2));
    if (f.Below(5000) == 0) t.k.Abort();
  }
  EXPECT_GT(sessions, 100);
  // The extensions were reached, not only offered.
  if (extended) {
    EXPECT_GT(largest, vxkermit::kPacketImageSize);
    EXPECT_GT(streamed, 0);
  }
  EXPECT_GT(t.sent, 0u);
  // Only the receiving directory and what is inside it.
  for (const QString& p : Tree(base))
    EXPECT_TRUE(p == "in" || p.startsWith("in/")) << p.toStdString();
  for (const QString& p : Tree(base + "/in")) EXPECT_FALSE(p.contains('/')) << p.toStdString();
}

TEST(KermitFuzz, ReceivingComponentSurvivesRandomAndMutatedPackets) {
  FuzzReceiver(false, 20261208);
}

TEST(KermitFuzz, ReceivingComponentWithEveryExtensionSurvivesRandomAndMutatedPackets) {
  FuzzReceiver(true, 20261209);
}

void FuzzSender(bool extended, unsigned seed) {
  const std::string base = MakeTempDir(extended ? "fuzz-send-ext" : "fuzz-send");
  QDir().mkpath(QString::fromStdString(base + "/in"));
  QDir().mkpath(QString::fromStdString(base + "/out"));
  WriteAll(base + "/out/one.bin", RandomBytes(3000, 1));
  WriteAll(base + "/out/two.bin", EveryByte(2));
  WriteAll(base + "/out/empty.bin", "");
  Target t(base, extended);
  Fuzzer f(seed, extended);
  std::printf("seed %u%s\n", seed, extended ? ", every extension" : "");
  int starts = 0, longSessions = 0, recovering = 0;
  for (int i = 0; i < kInputsPerRole; ++i) {
    if (t.k.State() != fsSend) {
      t.k.SetCrc(static_cast<TvxKermitCrc>(f.Below(3)));
      if (extended && f.Below(2) == 0)
        t.k.ResendFiles(base + "/out/*");
      else
        t.k.SendFiles(base + "/out/*");
      ++starts;
    }
    std::string input = f.Next(t.k.CheckIndex());
    // Half of the inputs answer the last packet with a well-formed Y, so sessions advance.
    if (f.Below(2) == 0) {
      std::uint8_t buf[vxkermit::kPacketImageSize];
      const std::string init = extended ? ExtendedInit(2, f.Below(2) == 0) : "~% @-#Y3 (";
      const std::string d = f.Below(10) == 0 ? "X" : (t.k.LastSentType() == 'S' ? init : "");
      const std::size_t n = vxkermit::FramePacket(
          buf, 'Y', static_cast<unsigned>(t.k.SendSeq() - 1),
          reinterpret_cast<const std::uint8_t*>(d.data()), d.size(), t.k.CheckIndex());
      input = std::string(reinterpret_cast<char*>(buf), n);
    }
    ASSERT_NO_THROW(t.Feed(input)) << i;
    longSessions += t.k.SendLongPacketLength() > 0;
    recovering += t.k.RecoveryAgreed();
    if (f.Below(1000) == 0) {
      ASSERT_NO_THROW(t.k.DoTimeout());
    }
    if (f.Below(3000) == 0) t.k.SkipFile(f.Below(2), f.Below(2));
  }
  EXPECT_GT(starts, 10);
  if (extended) {
    EXPECT_GT(longSessions, 0);
    EXPECT_GT(recovering, 0);
  }
  EXPECT_GT(t.sent, 0u);
  EXPECT_EQ(Tree(base + "/in").size(), 0);
  EXPECT_EQ(ReadAll(base + "/out/one.bin"), RandomBytes(3000, 1)) << "files to send are only read";
}

TEST(KermitFuzz, SendingComponentSurvivesRandomAndMutatedAnswers) {
  FuzzSender(false, 777);
}

TEST(KermitFuzz, SendingComponentWithEveryExtensionSurvivesRandomAndMutatedAnswers) {
  FuzzSender(true, 778);
}
