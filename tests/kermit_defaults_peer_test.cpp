// vxkermit against ckermit and gkermit on their own defaults (text or binary as they choose,
// names converted or literal as they see the other side): what each side stores, name and
// bytes, compared with what ckermit itself stores from the same sender; text forced on
// either side; client requests refused at once; block check 5 and "B".
#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>
#include <functional>
#include <map>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/programrun.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;

namespace {

using Stored = std::map<std::string, std::string>;  // name -> bytes

// Every file of Dir by name.
Stored StoredIn(const std::string& dir) {
  Stored files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    files[e.path().filename().string()] = ReadAll(e.path().string());
  return files;
}

// Text of every kind a user has, a text-like file with a NUL, a binary one, and names in
// upper and mixed case.
Stored SourceSet() {
  std::string dos;
  for (int i = 0; i < 200; ++i) dos += "dos line " + std::to_string(i) + "\r\n";
  return {{"text.txt", "line one\nline two\nthird line here\n"},
          {"utf8.txt", "gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac\nzweite Zeile \xc3\xa4\xc3\xb6\n"},
          {"latin1.txt", "gr\xfc\xdf\x65\nzweite \xe4\xf6\xfc\n"},
          {"crlf.txt", dos},
          {"nul.txt", std::string("text with\0nul\nsecond line\n", 26)},
          {"binary.bin", RandomBytes(20000, 5)},
          {"UPPER.TXT", "UPPER CASE NAME\n"},
          {"MixedCase.Txt", "Mixed case name\n"}};
}

std::vector<std::string> Names(const Stored& files) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) names.push_back(name);
  return names;
}

std::string Describe(const Stored& files) {
  std::string text;
  for (const auto& [name, bytes] : files) text += name + " " + std::to_string(bytes.size()) + "; ";
  return text;
}

QStringList Args(std::initializer_list<std::string> args) {
  QStringList list;
  for (const std::string& a : args) list << QString::fromStdString(a);
  return list;
}

class KermitDefaults : public ::testing::TestWithParam<KermitPeer::Program> {
 protected:
  void SetUp() override {
    src = MakeTempDir("kd-src");
    for (const auto& [name, bytes] : source) WriteAll(src + "/" + name, bytes);
  }

  // What the peer Receiver (on its defaults, with ReceiverSettings for ckermit) stores from
  // the peer Sender on its defaults with SenderSettings: the reference. Two standard peers
  // streaming to each other on a loaded machine now and then fail between themselves (a
  // ckermit pair once stopped after 5 KiB of a file); such a run says nothing about us and is
  // made once more.
  Stored PeerToPeer(KermitPeer::Program sender, KermitPeer::Program receiver,
                    const std::string& senderSettings = "",
                    const std::string& receiverSettings = "") {
    std::string failure;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const std::string dst = MakeTempDir("kd-ref");
      SocatPair line;
      auto r = KermitPeer::ReceiveWithDefaults(receiver, line.A(), dst, 60, receiverSettings);
      auto s =
          KermitPeer::SendWithDefaults(sender, line.B(), Names(source), src, 60, senderSettings);
      const bool ended = s->Wait(60000) && r->Wait(20000);
      if (ended && s->ExitCode() == 0 && r->ExitCode() == 0) return StoredIn(dst);
      failure = s->Output() + " / " + r->Output();
    }
    ADD_FAILURE() << "the peers failed between themselves twice: " << failure;
    return {};
  }

  // What vxkermit receive (with Options) stores from the peer Sender on its defaults.
  Stored PeerToOurs(KermitPeer::Program sender, const std::string& senderSettings = "",
                    const QStringList& options = {}) {
    const std::string dst = MakeTempDir("kd-ours");
    SocatPair line;
    QProcess ours;
    EXPECT_TRUE(
        StartWithOpenLine(ours, VXKERMIT_BIN, Args({"receive"}) + options + Args({line.A(), dst})));
    auto s = KermitPeer::SendWithDefaults(sender, line.B(), Names(source), src, 60, senderSettings);
    EXPECT_TRUE(s->Wait(60000));
    EXPECT_EQ(s->ExitCode(), 0) << s->Output();
    EXPECT_TRUE(WaitForEnd(ours, 20000));
    EXPECT_EQ(ours.exitCode(), 0) << ours.readAllStandardError().toStdString();
    return StoredIn(dst);
  }

  // What the peer Receiver on its defaults stores from vxkermit send with Options.
  Stored OursToPeer(KermitPeer::Program receiver, const QStringList& options = {},
                    const std::string& receiverSettings = "") {
    const std::string dst = MakeTempDir("kd-peer");
    SocatPair line;
    auto r = KermitPeer::ReceiveWithDefaults(receiver, line.B(), dst, 60, receiverSettings);
    QStringList args = Args({"send", "--quiet"}) + options + Args({line.A()});
    for (const std::string& name : Names(source)) args << QString::fromStdString(src + "/" + name);
    const ProgramRun run = RunProgram(VXKERMIT_BIN, args);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(r->Wait(20000));
    EXPECT_EQ(r->ExitCode(), 0) << r->Output();
    return StoredIn(dst);
  }

  const Stored source = SourceSet();
  std::string src;
};

std::string PeerName(const ::testing::TestParamInfo<KermitPeer::Program>& info) {
  return KermitPeer::Name(info.param);
}

}  // namespace

// A peer on its defaults sees a like system and sends every file byte for byte under its own
// name, as to ckermit.
TEST_P(KermitDefaults, APeerOnItsDefaultsSendsUsEveryFileAsItIs) {
  const Stored ours = PeerToOurs(GetParam());
  EXPECT_EQ(ours, PeerToPeer(GetParam(), KermitPeer::CKermit)) << Describe(ours);
  EXPECT_EQ(ours, source) << Describe(ours);
}

// Our sender with its defaults: every peer stores every file as it is, as between two
// ckermits.
TEST_P(KermitDefaults, APeerOnItsDefaultsStoresWhatWeSendAsItIs) {
  const Stored theirs = OursToPeer(GetParam());
  EXPECT_EQ(theirs, source) << Describe(theirs);
}

// Sent as text (--text, ckermit told to send text, gkermit -T): stored with LF line ends,
// as ckermit stores text, the CRs of a CR LF file included.
TEST_P(KermitDefaults, TextSentAsTextIsStoredAsCKermitStoresIt) {
  const std::string ckText = "set file type text, set transfer mode manual";
  const Stored reference = PeerToPeer(KermitPeer::CKermit, GetParam(), ckText);
  EXPECT_EQ(OursToPeer(GetParam(), {"--text"}), reference) << Describe(reference);
  EXPECT_EQ(reference.at("text.txt"), source.at("text.txt"));
  EXPECT_EQ(reference.at("crlf.txt").find('\r'), std::string::npos);
  const std::string peerText = GetParam() == KermitPeer::CKermit ? ckText : "-T";
  const Stored theirs = PeerToPeer(GetParam(), KermitPeer::CKermit, peerText);
  const Stored ours = PeerToOurs(GetParam(), peerText);
  EXPECT_EQ(ours, theirs) << Describe(ours) << " / " << Describe(theirs);
  EXPECT_NE(ours, source);
}

namespace {

// What vxkermit receive (Ours) or else ckermit on its defaults stores in a new directory
// while Send runs a sender on the line's other end (its device given).
Stored ReceivedBy(bool ours, const std::function<void(const std::string&)>& send) {
  const std::string dst = MakeTempDir("kdn-dst");
  SocatPair line;
  QProcess receiver;
  std::unique_ptr<KermitPeer> ck;
  if (ours)
    EXPECT_TRUE(StartWithOpenLine(receiver, VXKERMIT_BIN, Args({"receive", line.A(), dst})));
  else
    ck = KermitPeer::ReceiveWithDefaults(KermitPeer::CKermit, line.A(), dst, 60);
  send(line.B());
  EXPECT_TRUE(ours ? WaitForEnd(receiver, 20000) : ck->Wait(20000));
  return StoredIn(dst);
}

}  // namespace

// ckermit told to convert names: what it sends a like system is stored as it stores it.
TEST(KermitDefaultsNames, ConvertedNamesAreStoredAsCKermitStoresThem) {
  const std::string src = MakeTempDir("kdn-src");
  const Stored files = {{"UPPER.TXT", "u\n"}, {"MixedCase.Txt", "m\n"}, {"lower.txt", "l\n"}};
  for (const auto& [name, bytes] : files) WriteAll(src + "/" + name, bytes);
  const auto send = [&](const std::string& device) {
    auto s = KermitPeer::SendWithDefaults(KermitPeer::CKermit, device, Names(files), src, 60,
                                          "set file names converted");
    EXPECT_TRUE(s->Wait(60000));
    EXPECT_EQ(s->ExitCode(), 0) << s->Output();
  };
  const Stored theirs = ReceivedBy(false, send), ours = ReceivedBy(true, send);
  EXPECT_EQ(ours, theirs) << Describe(ours) << " / " << Describe(theirs);
  EXPECT_EQ(ours.size(), files.size());
}

// A sender that does not name itself a Unix system (ours with --classic) sends names as they
// are; ckermit stores an upper-case one in lower case, and so do we.
TEST(KermitDefaultsNames, AnUpperCaseNameFromAnUndescribedSenderIsStoredInLowerCase) {
  const std::string src = MakeTempDir("kdu-src");
  WriteAll(src + "/UPPER.TXT", "u\n");
  WriteAll(src + "/Mixed.Txt", "m\n");
  const auto send = [&](const std::string& device) {
    const ProgramRun run = RunProgram(VXKERMIT_BIN, Args({"send", "--quiet", "--classic", device,
                                                          src + "/UPPER.TXT", src + "/Mixed.Txt"}));
    EXPECT_EQ(run.code, 0) << run.err;
  };
  const Stored expected = {{"upper.txt", "u\n"}, {"Mixed.Txt", "m\n"}};
  const Stored theirs = ReceivedBy(false, send), ours = ReceivedBy(true, send);
  EXPECT_EQ(theirs, expected) << Describe(theirs);
  EXPECT_EQ(ours, expected) << Describe(ours);
}

INSTANTIATE_TEST_SUITE_P(Peers, KermitDefaults,
                         ::testing::Values(KermitPeer::CKermit, KermitPeer::GKermit), PeerName);

// A client's request gets an error packet at once: ckermit ends on it with a failure instead
// of waiting out its retries, and the receiver goes on listening.
TEST(KermitDefaultsClient, ServerRequestsAreRefusedAtOnce) {
  for (const std::string request : {"get foo", "remote dir", "finish", "bye"}) {
    const std::string dir = MakeTempDir("kdc");
    SocatPair line;
    QProcess ours;
    ASSERT_TRUE(StartWithOpenLine(ours, VXKERMIT_BIN,
                                  Args({"receive", "--log-level", "detail", line.A(), dir})));
    auto client = KermitPeer::CKermitRun(line.B(), dir, 60, "", request);
    // Without an answer ckermit waits out its retries: far longer than this.
    ASSERT_TRUE(client->Wait(20000)) << request;
    EXPECT_NE(client->ExitCode(), 0) << request;
    EXPECT_EQ(ours.state(), QProcess::Running);
    ours.terminate();
    ours.waitForFinished(10000);
    const std::string log = ours.readAllStandardError().toStdString();
    EXPECT_NE(log.find(std::string("Refused a server command")), std::string::npos) << log;
    EXPECT_NE(log.find(TvxKermit::kNotAServer), std::string::npos) << log;
  }
}

// Block check 5 (the type 3 check from the Send-Init on) both ways, and "B" (taken as type 1,
// which ckermit falls back to).
TEST(KermitDefaultsBlockCheck, ForceThreeAndBlankFreeCrossWithCKermit) {
  const std::string src = MakeTempDir("kdb-src");
  const Stored files = {{"a.bin", RandomBytes(30000, 9)}, {"b.txt", "text\n"}};
  for (const auto& [name, bytes] : files) WriteAll(src + "/" + name, bytes);
  for (const std::string check : {"5", "4"}) {
    const std::string dst = MakeTempDir("kdb-ours");
    SocatPair line;
    QProcess ours;
    ASSERT_TRUE(StartWithOpenLine(ours, VXKERMIT_BIN, Args({"receive", line.A(), dst})));
    auto s = KermitPeer::SendWithDefaults(KermitPeer::CKermit, line.B(), Names(files), src, 60,
                                          "set block-check " + check);
    ASSERT_TRUE(s->Wait(60000)) << check;
    EXPECT_EQ(s->ExitCode(), 0) << check << s->Output();
    EXPECT_TRUE(WaitForEnd(ours, 20000));
    EXPECT_EQ(ours.exitCode(), 0) << check;
    EXPECT_EQ(StoredIn(dst), files) << check;
  }
  // Ours proposing force-3 to a ckermit set to take nothing else.
  const std::string dst = MakeTempDir("kdb-peer");
  SocatPair line;
  auto r =
      KermitPeer::ReceiveWithDefaults(KermitPeer::CKermit, line.B(), dst, 60, "set block-check 5");
  const ProgramRun run = RunProgram(VXKERMIT_BIN, Args({"send", "--quiet", "--check", "5", line.A(),
                                                        src + "/a.bin", src + "/b.txt"}));
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(r->Wait(20000));
  EXPECT_EQ(r->ExitCode(), 0) << r->Output();
  EXPECT_EQ(StoredIn(dst), files);
}

TEST(KermitDefaultsHelp, TheHelpSaysHowTextAndNamesCross) {
  const ProgramRun r = RunProgram(VXKERMIT_BIN, {"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* text :
       {"--text", "--auto-type", "names itself a Unix system", "stored with LF line ends",
        "TEXT.TXT as text.txt", "Character sets are\nnot translated", "this is not a server",
        "or 5 for the type 3 check"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text;
  EXPECT_EQ(RunProgram(VXKERMIT_BIN, {"send", "--text", "--auto-type", "/dev/null", "x"}).code, 2);
  EXPECT_EQ(RunProgram(VXKERMIT_BIN, {"send", "--check", "4", "/dev/null", "x"}).code, 2);
  EXPECT_EQ(RunProgram(VXKERMIT_BIN, {"resend", "--text", "/dev/null", "x"}).code, 2);
}

namespace {

// The bytes the files of Dir hold, whatever their names.
std::uintmax_t BytesIn(const std::string& dir) {
  std::uintmax_t n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    n += std::filesystem::file_size(e.path(), ec);
  return n;
}

}  // namespace

// A file that shrinks while it is sent (64 MiB announced, cut to 100 000 bytes once a MiB
// has crossed) is a failure on both sides, whichever sends it.
TEST(KermitDefaultsLengths, AFileCutWhileItIsSentIsAFailureOnBothSides) {
  for (const bool oursSends : {false, true}) {
    const std::string src = MakeTempDir("kdl-src"), dst = MakeTempDir("kdl-dst");
    WriteAll(src + "/big.bin", RandomBytes(64 << 20, 3));
    SocatPair line;
    QProcess ours;
    std::unique_ptr<KermitPeer> peer;
    if (oursSends) {
      peer = KermitPeer::ReceiveWithDefaults(KermitPeer::CKermit, line.B(), dst, 60);
      ours.start(VXKERMIT_BIN, Args({"send", line.A(), src + "/big.bin"}));
      ASSERT_TRUE(ours.waitForStarted(5000));
    } else {
      ASSERT_TRUE(StartWithOpenLine(ours, VXKERMIT_BIN, Args({"receive", line.A(), dst})));
      peer = KermitPeer::SendWithDefaults(KermitPeer::CKermit, line.B(), {"big.bin"}, src, 60);
    }
    ASSERT_TRUE(WaitUntil([&] { return BytesIn(dst) >= (1u << 20); }, 60000)) << oursSends;
    std::filesystem::resize_file(src + "/big.bin", 100000);
    EXPECT_TRUE(peer->Wait(60000));
    EXPECT_TRUE(WaitForEnd(ours, 60000));
    EXPECT_NE(peer->ExitCode(), 0) << oursSends << peer->Output();
    EXPECT_EQ(ours.exitCode(), 1) << oursSends;
    const std::string err = ours.readAllStandardError().toStdString();
    EXPECT_NE(err.find(oursSends ? "big.bin changed while it was sent: "
                                 : " bytes arrived, 67108864 announced."),
              std::string::npos)
        << err.substr(err.size() > 2000 ? err.size() - 2000 : 0);
  }
}
