// The Kermit engine between two components back to back: whole sessions with each block
// check, the packets on the wire, repeats, skips, aborts, remote errors, the error limit,
// and hostile or damaged input from the peer.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QCoreApplication>
#include <memory>

#include "support/fedkermit.h"
#include "support/kermitfiles.h"
#include "support/kermitlink.h"
#include "support/kermitwire.h"
#include "support/ptypair.h"
#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/packet.h"

using namespace kermitfiles;
using kermitwire::Packet;

namespace {

bool HasEntryStartingWith(const TvxTestLog& log, const std::string& prefix) {
  for (const auto& e : log.Entries())
    if (e.rfind(prefix, 0) == 0) return true;
  return false;
}

int CountEntries(const TvxTestLog& log, const std::string& prefix) {
  int n = 0;
  for (const auto& e : log.Entries())
    if (e.rfind(prefix, 0) == 0) ++n;
  return n;
}

class KermitEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    src = MakeTempDir("kermit-src");
    dst = MakeTempDir("kermit-dst");
    for (TvxKermit* k : {&sender, &receiver}) {
      k->SetActive(true);
      k->SetTimeout(400);
      k->OnFatalError = [this](TObject*, Cardinal code, Cardinal detail, const std::string& msg,
                               bool& raise) {
        raise = false;
        fatal.push_back(std::to_string(code) + "/" + std::to_string(detail) + " " + msg);
      };
    }
    sender.SetLog(&sendLog);
    receiver.SetLog(&recvLog);
    receiver.SetDefaultPath(dst);
    sender.OnChangeState = [this](TObject*) { senderStates.push_back(sender.State()); };
    receiver.OnChangeState = [this](TObject*) { receiverStates.push_back(receiver.State()); };
  }

  // Runs until both are back in fsListen after the sender started, or TimeoutMs; then lets
  // the blocks still queued (the answer to the B) land.
  bool RunSession(int timeoutMs = 20000) {
    auto done = [this] {
      return !link.sentByA.empty() && sender.State() == fsListen && receiver.State() == fsListen;
    };
    WaitUntil(done, timeoutMs);
    WaitUntil([] { return false; }, 30);
    return done();
  }

  std::string src, dst;
  TvxKermit sender, receiver;
  TvxTestLog sendLog, recvLog;
  KermitLink link{&sender, &receiver};
  std::vector<std::string> fatal;
  std::vector<TvxTransferState> senderStates, receiverStates;
};

}  // namespace

TEST_F(KermitEngine, WholeSessionWithEachBlockCheck) {
  const auto names = WriteStandardSet(src, 100 * 1024 + 17);
  for (TvxKermitCrc crc : {crc6bit, crc12bit, crc16bit}) {
    SCOPED_TRACE(static_cast<int>(crc));
    link.sentByA.clear();
    link.sentByB.clear();
    senderStates.clear();
    sender.SetCrc(crc);
    sender.SendFiles(src + "/*");
    ASSERT_TRUE(RunSession());
    for (const auto& n : names) EXPECT_EQ(ReadAll(dst + "/" + n), ReadAll(src + "/" + n)) << n;
    EXPECT_EQ(receiver.CheckIndex(), static_cast<int>(crc));
    EXPECT_EQ(senderStates, (std::vector<TvxTransferState>{fsSend, fsListen}));
    EXPECT_EQ(sender.ErrorCount(), 0);
    EXPECT_TRUE(fatal.empty());
    // S, then F A D.. Z per file in name order, then B; the empty file has no D.
    const std::string types = KermitLink::Types(link.sentByA);
    EXPECT_EQ(types.substr(0, 4), "SFAD");
    EXPECT_EQ(types.back(), 'B');
    EXPECT_NE(types.find("FAZF"), std::string::npos) << "empty file";
    EXPECT_EQ(std::count(types.begin(), types.end(), 'F'), 4);
    EXPECT_TRUE(recvLog.Has("vxKermit: BREAK [B] Close Session Packet! "));
  }
}

TEST_F(KermitEngine, EighthBitPrefixingKeepsTheLineSevenBitWhicheverSideAsks) {
  WriteAll(src + "/allbytes.bin", EveryByte(6));
  WriteAll(src + "/ampersand.txt", "AT&T and R&D \xe9\xff\x80 ##&&");
  for (TvxKermit* asking : {&receiver, &sender}) {
    SCOPED_TRACE(asking == &sender ? "sender asks" : "receiver asks");
    asking->SetEighthBitPrefix('&');
    link.sentByA.clear();
    link.sentByB.clear();
    sender.SetCrc(crc16bit);
    sender.SendFiles(src + "/*");
    ASSERT_TRUE(RunSession());
    EXPECT_EQ(ReadAll(dst + "/allbytes.bin"), EveryByte(6));
    EXPECT_EQ(ReadAll(dst + "/ampersand.txt"), ReadAll(src + "/ampersand.txt"));
    for (const auto* blocks : {&link.sentByA, &link.sentByB})
      for (const std::string& b : *blocks)
        for (char c : b) ASSERT_EQ(static_cast<unsigned char>(c) & 0x80, 0) << b;
    asking->SetEighthBitPrefix('Y');
  }
  EXPECT_TRUE(fatal.empty());
}

TEST_F(KermitEngine, SendInitAndAnswerOnTheWire) {
  WriteAll(src + "/one.txt", "hello");
  sender.SetTimeout(5000);
  sender.SetCrc(crc16bit);
  sender.SendFiles(src + "/one.txt");
  ASSERT_TRUE(RunSession());
  EXPECT_EQ(link.sentByA.front(),
            std::string("\x01\x2D\x20\x53\x7E\x25\x20\x40\x2D\x23\x59\x33\x20\x28\x2A\x0D"));
  // The receiver answers with the sender's values, checked with type 1.
  EXPECT_EQ(link.sentByB.front(), Packet('Y', 0, "~% @-#Y3 (", 0));
  EXPECT_TRUE(recvLog.Has(
      "vxKermit: INIT [S] Packet: Y 3 = 126/7E 37/25 32/20 64/40 45/2D 35/23 89/59 51/33 "));
  EXPECT_EQ(link.sentByA[2], Packet('A', 2, "!!1", 2));
  EXPECT_TRUE(sendLog.Has("vxKermit: Answer Init"));
  EXPECT_TRUE(recvLog.Has("vxKermit: Answer ACK 3 = 3"));
  EXPECT_EQ(ReadAll(dst + "/one.txt"), "hello");
}

TEST_F(KermitEngine, LostAcknowledgementRepeatsTheSamePacketOnce) {
  WriteAll(src + "/data.bin", RandomBytes(1000, 3));
  int ys = 0;
  // Drop the receiver's first acknowledgement of a data packet: the sender's time-out sends
  // the same D with the same number, and the receiver does not write it twice.
  link.filter = [&](bool aToB, const std::string& b) -> std::string {
    if (!aToB && b.size() > 3 && b[3] == 'Y' && ++ys == 4) return {};
    return b;
  };
  sender.SendFiles(src + "/data.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_EQ(ReadAll(dst + "/data.bin"), ReadAll(src + "/data.bin"));
  ASSERT_GE(link.sentByA.size(), 5u);
  EXPECT_EQ(link.sentByA[3], link.sentByA[4]);
  EXPECT_EQ(link.sentByA[3][3], 'D');
  EXPECT_TRUE(sendLog.Has("vxKermit: Timeout!"));
  EXPECT_EQ(sender.ErrorCount(), 0) << "a new session clears the count";
}

TEST_F(KermitEngine, LostDataPacketIsAskedForAgainByTheReceiver) {
  WriteAll(src + "/data.bin", RandomBytes(3000, 4));
  int ds = 0;
  link.filter = [&](bool aToB, const std::string& b) -> std::string {
    if (aToB && b.size() > 3 && b[3] == 'D' && ++ds == 2) return {};
    return b;
  };
  sender.SetTimeout(2000);  // the receiver's shorter time-out speaks first
  sender.SendFiles(src + "/data.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_EQ(ReadAll(dst + "/data.bin"), ReadAll(src + "/data.bin"));
  EXPECT_TRUE(recvLog.Has("vxKermit: Timeout!"));
  EXPECT_TRUE(HasEntryStartingWith(recvLog, "vxKermit: Answer NACK"));
  EXPECT_TRUE(sendLog.Has("vxKermit: NACK [N] Packet! "));
}

TEST_F(KermitEngine, DamagedPacketWhileReceivingIsCountedAndRefused) {
  WriteAll(src + "/data.bin", RandomBytes(2000, 5));
  sender.SetCrc(crc12bit);
  int ds = 0;
  link.filter = [&](bool aToB, const std::string& b) -> std::string {
    std::string out = b;
    if (aToB && b.size() > 8 && b[3] == 'D' && ++ds == 3) out[6] ^= 0x10;
    return out;
  };
  sender.SendFiles(src + "/data.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_EQ(ReadAll(dst + "/data.bin"), ReadAll(src + "/data.bin"));
  EXPECT_EQ(CountEntries(recvLog, "vxKermit: Bad check sum! 1"), 1);
  // One N, carrying the damaged packet's sequence number (S F A D D D: the sixth packet).
  EXPECT_EQ(std::count_if(link.sentByB.begin(), link.sentByB.end(),
                          [](const std::string& b) { return b[3] == 'N'; }),
            1);
  EXPECT_NE(std::find(link.sentByB.begin(), link.sentByB.end(), Packet('N', 5, "", 1)),
            link.sentByB.end());
}

TEST_F(KermitEngine, ReceiverSkipsAFileAndTheRest) {
  WriteAll(src + "/a.bin", RandomBytes(20000, 6));
  WriteAll(src + "/b.bin", RandomBytes(300, 7));
  bool asked = false;
  receiver.OnProgress = [&](TObject*) {
    if (!asked && receiver.FileName().find("a.bin") != std::string::npos) {
      asked = true;
      receiver.SkipFile(false, false);
    }
  };
  sender.SendFiles(src + "/a.bin;" + src + "/b.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_FALSE(Exists(dst + "/a.bin"));
  EXPECT_EQ(ReadAll(dst + "/b.bin"), ReadAll(src + "/b.bin"));
  EXPECT_TRUE(HasEntryStartingWith(recvLog, "vxKermit: EOF [Z] Packet. Close File:  " + dst));
  EXPECT_NE(
      std::find_if(link.sentByB.begin(), link.sentByB.end(),
                   [](const std::string& b) { return b.size() > 5 && b[3] == 'Y' && b[4] == 'X'; }),
      link.sentByB.end());
  bool deleted = false;
  for (const auto& e : recvLog.Entries())
    if (e.find("a.bin with deletion!") != std::string::npos) deleted = true;
  EXPECT_TRUE(deleted);

  // Skip All: the sender answers the "Z" with a discarding Z and then B.
  asked = false;
  receiver.OnProgress = [&](TObject*) {
    if (!asked) {
      asked = true;
      receiver.SkipFile(true, false);
    }
  };
  link.sentByA.clear();
  std::remove((dst + "/b.bin").c_str());
  sender.SendFiles(src + "/a.bin;" + src + "/b.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_FALSE(Exists(dst + "/a.bin"));
  EXPECT_FALSE(Exists(dst + "/b.bin"));
  const std::string types = KermitLink::Types(link.sentByA);
  EXPECT_EQ(types.substr(types.size() - 2), "ZB");
  EXPECT_EQ(link.sentByA[link.sentByA.size() - 2][4], 'D');
}

TEST_F(KermitEngine, SenderSkipsAFileAndTheReceiverKeepsThePart) {
  WriteAll(src + "/a.bin", RandomBytes(20000, 8));
  WriteAll(src + "/b.bin", RandomBytes(500, 9));
  int progress = 0;
  sender.OnProgress = [&](TObject*) {
    if (++progress == 3 && sender.FileName().find("a.bin") != std::string::npos)
      sender.SkipFile(false, false);
  };
  sender.SendFiles(src + "/a.bin," + src + "/b.bin");
  ASSERT_TRUE(RunSession());
  const std::string part = ReadAll(dst + "/a.bin");
  EXPECT_GT(part.size(), 0u);
  EXPECT_LT(part.size(), 20000u);
  EXPECT_EQ(part, ReadAll(src + "/a.bin").substr(0, part.size()));
  EXPECT_EQ(ReadAll(dst + "/b.bin"), ReadAll(src + "/b.bin"));
  EXPECT_TRUE(sendLog.Has("vxKermit: File transfer is skipped. File Group: 0. Deletion: 0"));
}

TEST_F(KermitEngine, AbortOnEachSideTellsThePeer) {
  WriteAll(src + "/a.bin", RandomBytes(50000, 10));
  int progress = 0;
  sender.OnProgress = [&](TObject*) {
    if (++progress == 5) sender.Abort();
  };
  sender.SendFiles(src + "/a.bin");
  ASSERT_TRUE(RunSession());
  // An E with no text; the receiver's answer to the last D, which crossed it, gets it again.
  const std::string types = KermitLink::Types(link.sentByA);
  const std::size_t e = types.find('E');
  ASSERT_NE(e, std::string::npos);
  EXPECT_EQ(link.sentByA[e], Packet('E', e, "", 0));
  EXPECT_EQ(types.substr(e), "EE");
  EXPECT_TRUE(sendLog.Has("vxKermit: Transfer aborted. "));
  EXPECT_EQ(senderStates, (std::vector<TvxTransferState>{fsSend})) << "no event for the abort";
  EXPECT_EQ(sender.FileName(), "");
  EXPECT_TRUE(recvLog.Has("vxKermit: Transfer aborted. Remote end reports fatal error: "));
  // The part stays, hidden: never under the name of a finished file.
  EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{".a.bin.vxpart"}));
  const std::string part = ReadAll(dst + "/.a.bin.vxpart");
  EXPECT_TRUE(part == ReadAll(src + "/a.bin").substr(0, part.size()));

  // The receiver aborts: the sender ends with the receiver's reason.
  progress = 0;
  sender.OnProgress = nullptr;
  receiver.OnProgress = [&](TObject*) {
    if (++progress == 5) receiver.AbortTransfer("Disk on fire");
  };
  link.sentByA.clear();
  sender.SendFiles(src + "/a.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(
      sendLog.Has("vxKermit: Transfer aborted. Remote end reports fatal error: Disk on fire"));
  EXPECT_EQ(sender.FileName(), "");
}

TEST_F(KermitEngine, ErrorLimitEndsTheSessionWithTooManyErrors) {
  WriteAll(src + "/a.bin", RandomBytes(5000, 11));
  sender.SetErrorLimit(3);
  int ds = 0;
  // From the third data packet on, every one arrives damaged.
  link.filter = [&](bool aToB, const std::string& b) -> std::string {
    std::string out = b;
    if (aToB && b.size() > 8 && b[3] == 'D' && ++ds >= 3) out[5] ^= 0x01;
    return out;
  };
  receiver.SetTimeout(5000);
  sender.SendFiles(src + "/a.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_EQ(CountEntries(recvLog, "vxKermit: Bad check sum! 0"), 3);
  EXPECT_EQ(fatal, (std::vector<std::string>{"17/7 Too many errors."}));
  EXPECT_TRUE(recvLog.Has("vxKermit: Transfer aborted. Too many errors."));
  EXPECT_TRUE(
      sendLog.Has("vxKermit: Transfer aborted. Remote end reports fatal error: Too many errors."));
  EXPECT_TRUE(recvLog.Has("Fatal Error: 17, 7, Too many errors."));
}

TEST_F(KermitEngine, SilentReceiverReachesTheErrorLimitOnTheSenderSide) {
  WriteAll(src + "/a.bin", "abc");
  link.filter = [](bool aToB, const std::string& b) -> std::string {
    return aToB ? std::string() : b;
  };
  sender.SetTimeout(100);
  sender.SendFiles(src + "/a.bin");
  ASSERT_TRUE(WaitUntil([&] { return sender.State() == fsListen; }, 5000));
  // The S went out once and again on each of the three time-outs; the fourth error ends it.
  EXPECT_EQ(KermitLink::Types(link.sentByA), "SSSSE");
  EXPECT_EQ(fatal, (std::vector<std::string>{"17/7 Too many errors."}));
}

TEST_F(KermitEngine, NoFilesRaisesTheFatalError) {
  sender.SendFiles(src + "/nothing-*.none");
  EXPECT_EQ(fatal, (std::vector<std::string>{"17/6 There are no files for transmission."}));
  EXPECT_EQ(sender.State(), fsListen);
  EXPECT_TRUE(link.sentByA.empty());
}

// Attached to a closed port, a send fails at once with the reason, instead of ErrorLimit
// reply time-outs later: no session starts and nothing goes out. Once the port is open the
// same call sends.
TEST_F(KermitEngine, SendOnAClosedPortFailsAtOnce) {
  WriteAll(src + "/a.bin", "abc");
  PtyPair line;
  TvxComm comm;
  comm.SetDeviceName(line.slavePath());
  comm.SetDataProcessor(&sender);
  sender.SendFiles(src + "/a.bin");
  EXPECT_EQ(fatal, (std::vector<std::string>{"17/13 The port is not open."}));
  EXPECT_EQ(sender.State(), fsListen);
  EXPECT_TRUE(senderStates.empty());
  EXPECT_TRUE(link.sentByA.empty());
  EXPECT_FALSE(sender.SessionOpen());

  fatal.clear();
  comm.SetActive(true);
  ASSERT_TRUE(comm.Active());
  sender.SendFiles(src + "/a.bin");
  EXPECT_TRUE(fatal.empty()) << fatal[0];
  ASSERT_TRUE(RunSession());
  EXPECT_EQ(ReadAll(dst + "/a.bin"), "abc");
  comm.SetActive(false);
}

TEST_F(KermitEngine, FileThatCannotBeCreatedEndsTheSessionOnBothSides) {
  WriteAll(src + "/a.bin", "abc");
  receiver.SetDefaultPath(dst + "/no/such/dir");
  sender.SendFiles(src + "/a.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_TRUE(HasEntryStartingWith(recvLog, "vxKermit: Transfer aborted. Cannot create file"));
  EXPECT_TRUE(HasEntryStartingWith(
      sendLog, "vxKermit: Transfer aborted. Remote end reports fatal error: Cannot create"));
}

TEST_F(KermitEngine, FileThatCannotBeOpenedEndsTheSession) {
  WriteAll(src + "/a.bin", "abc");
  WriteAll(src + "/b.bin", "def");
  sender.OnFileEnd = [&](TObject*) { std::remove((src + "/b.bin").c_str()); };
  sender.SendFiles(src + "/a.bin;" + src + "/b.bin");
  ASSERT_TRUE(RunSession());
  EXPECT_EQ(ReadAll(dst + "/a.bin"), "abc");
  EXPECT_TRUE(HasEntryStartingWith(sendLog, "vxKermit: Transfer aborted. Cannot open file"));
  EXPECT_TRUE(HasEntryStartingWith(
      recvLog, "vxKermit: Transfer aborted. Remote end reports fatal error: Cannot open"));
}

class KermitReceiverInput : public ::testing::Test {
 protected:
  void Feed(const std::string& bytes) { fed.Feed(bytes); }
  void Init(const std::string& params = "~% @-#Y3 (") { Feed(Packet('S', 0, params, 0)); }

  std::string dst = MakeTempDir("kermit-in");
  FedKermit fed{dst};
  TvxKermit& k = fed.k;
  TvxTestLog& log = fed.log;
  std::vector<std::string>& replies = fed.replies;
};

TEST_F(KermitReceiverInput, NamesFromThePeerStayInTheReceivingDirectory) {
  Init();
  ASSERT_EQ(k.State(), fsReceive);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"../../escape.txt", "escape.txt"},
      {"/etc/passwd", "passwd"},
      {"..", "unnamed"},
      {"dir\\win.txt", "win.txt"},
      {"", "unnamed"},
      {std::string("nul\0x", 5), "nul"}};
  unsigned seq = 1;
  for (const auto& [sent, kept] : cases) {
    Feed(Packet('F', seq++, sent, 2));
    Feed(Packet('D', seq++, "data", 2));
    Feed(Packet('Z', seq++, "", 2));
    EXPECT_EQ(ReadAll(dst + "/" + kept), "data") << sent;
  }
  EXPECT_FALSE(Exists(dst + "/../escape.txt"));
  EXPECT_EQ(replies.back(), Packet('Y', seq - 1, "", 2));
}

TEST_F(KermitReceiverInput, AnswerToAFullFeaturedSendInitPromisesOnlyWhatWeDo) {
  Init("~* @-#&3~_*W!<");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], Packet('Y', 0, "~* @-#&3 (", 0));
  // A Send-Init repeated in the session is answered again, and the negotiated check stays.
  Init("~* @-#&3~_*W!<");
  EXPECT_EQ(replies[1], replies[0]);
  EXPECT_EQ(k.CheckIndex(), 2);
  Feed(Packet('B', 1, "", 2));
  EXPECT_EQ(replies.back(), Packet('Y', 1, "", 2));
  EXPECT_EQ(k.State(), fsListen);
}

TEST_F(KermitReceiverInput, ABreakWhileListeningIsAnsweredAndLogged) {
  Feed(Packet('B', 7, "", 0));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], Packet('Y', 7, "", 0));
  EXPECT_EQ(k.State(), fsListen);
  EXPECT_EQ(CountEntries(log, "vxKermit: BREAK [B] Close Session Packet! "), 1);
  EXPECT_FALSE(k.SessionOpen());
}

TEST_F(KermitReceiverInput, ShortSendInitTakesDefaultsAndUnknownCheckFallsBack) {
  Init("~%");
  ASSERT_EQ(k.State(), fsReceive);
  EXPECT_EQ(k.CheckIndex(), 0);
  EXPECT_EQ(replies[0], Packet('Y', 0, "~% @-#N1  ", 0));
  k.Abort();
  Init("p% @-#YB (");
  EXPECT_EQ(k.CheckIndex(), 0);
  EXPECT_EQ(replies.back(),
            Packet('Y', 0, "p% @-#YB (", 0).substr(0, 0) + Packet('Y', 0, "p% @-#Y1 (", 0));
}

TEST_F(KermitReceiverInput, LengthsOutsideTheRulesNeverReachTheFile) {
  Init();
  Feed(Packet('F', 1, "len.bin", 2));
  const std::size_t before = replies.size();
  // LEN a space (a long packet), LEN below the minimum for type 3, LEN a control character.
  Feed(std::string("\x01 ") + "#Dxxxxxxxx\r");
  Feed(std::string("\x01\x23") + "#Dxx\r");
  Feed(std::string("\x01\x05") + "#D\r");
  EXPECT_EQ(CountEntries(log, "vxKermit: Bad check sum! 2"), 3);
  EXPECT_EQ(replies.size(), before + 3);
  for (std::size_t i = before; i < replies.size(); ++i) EXPECT_EQ(replies[i][3], 'N');
  // A data field of 90 characters (LEN 0x7F) is taken.
  const std::string ninety(90, 'q');
  Feed(Packet('D', 2, ninety, 2));
  Feed(Packet('Z', 3, "", 2));
  EXPECT_EQ(ReadAll(dst + "/len.bin"), ninety);
}

TEST_F(KermitReceiverInput, AttributesAnnounceTheSize) {
  Init();
  Feed(Packet('F', 1, "s.bin", 2));
  Feed(Packet('A', 2, "!!2#120260101 12:00:001$1500", 2));
  EXPECT_EQ(k.ReceivedSize(), 1500);
  EXPECT_EQ(k.TotalSize(), 1500);
  EXPECT_TRUE(log.Has("vxKermit: FILE ATTRIBUTES [A] Packet! 1500 20260101 12:00:00"));
  Feed(Packet('A', 3, "!!5", 2));
  EXPECT_EQ(k.ReceivedSize(), 5 * 1024 + 1);
}

TEST_F(KermitReceiverInput, DamagedDataFieldIsRefusedAndItsRepeatWritten) {
  Init();
  Feed(Packet('F', 1, "lone.bin", 2));
  Feed(Packet('D', 2, "ab#", 2));  // ends in a lone prefix
  EXPECT_EQ(replies.back(), Packet('N', 2, "", 2));
  Feed(Packet('D', 2, "ab#M", 2));
  Feed(Packet('Z', 3, "", 2));
  EXPECT_EQ(ReadAll(dst + "/lone.bin"), "ab\r");
}

TEST_F(KermitReceiverInput, ErrorPacketEndsTheSessionWithoutAnswer) {
  Init();
  const std::size_t before = replies.size();
  Feed(Packet('E', 1, "peer gave up", 2));
  EXPECT_EQ(k.State(), fsListen);
  EXPECT_EQ(replies.size(), before);
  EXPECT_EQ(
      CountEntries(log, "vxKermit: Transfer aborted. Remote end reports fatal error: peer gave up"),
      1);
  // In fsListen an E is ignored.
  Feed(Packet('E', 1, "again", 0));
  EXPECT_EQ(CountEntries(log, "vxKermit: Transfer aborted."), 1);
}
