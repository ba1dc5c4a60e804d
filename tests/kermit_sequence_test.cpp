// One Kermit component talked to by hand, packet by packet: it acts only on the packet it
// expects, resynchronises on every SOH, never acknowledges a file it did not write, keeps
// what arrived when a session ends early, and counts errors only while a transfer runs.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <thread>

#include "support/kermitfiles.h"
#include "support/kermitwire.h"
#include "support/ptypair.h"
#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

using namespace kermitfiles;
using kermitwire::Packet;

namespace {

// Remembers every abort, as the command-line program does to decide its exit status.
class TRecordingKermit : public TvxKermit {
 public:
  std::vector<std::string> aborts;
  ~TRecordingKermit() override { Destroying(); }
  void AbortTransfer(const std::string& reason) override {
    if (State() != fsListen) aborts.push_back(reason);
    TvxKermit::AbortTransfer(reason);
  }
};

class KermitByHand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir("kermit-hand");
    k.SetActive(true);
    k.SetDefaultPath(dir);
    k.SetLog(&log);
    k.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
      raise = false;
      fatal.push_back(msg);
    };
    k.OnDataSend = [this](TObject*, const void* d, Cardinal n, bool, bool& handled) {
      handled = true;
      sent.emplace_back(static_cast<const char*>(d), n);
    };
    k.OnFileEnd = [this](TObject*) {
      if (k.State() == fsReceive) received.push_back(k.FileName());
    };
  }
  // The component outlives the vectors its handlers fill: they go first.
  void TearDown() override {
    k.OnFileEnd = nullptr;
    k.OnDataSend = nullptr;
    k.OnFatalError = nullptr;
  }
  void Feed(const std::string& bytes) {
    k.DataReceived(bytes.data(), static_cast<Cardinal>(bytes.size()));
  }
  // A peer's Send-Init with block check type 3.
  void Init() { Feed(Packet('S', 0, "~% @-#Y3 (", 0)); }
  // The answer to the last packet fed.
  std::string Last() const { return sent.empty() ? std::string() : sent.back(); }
  std::string Y(unsigned seq) const { return Packet('Y', seq, "", 2); }
  std::string N(unsigned seq) const { return Packet('N', seq, "", 2); }
  // A whole session from the Send-Init to the break, for one file.
  void Session(const std::string& name, const std::string& body) {
    Init();
    Feed(Packet('F', 1, name, 2));
    Feed(Packet('A', 2, "!!1", 2));
    Feed(Packet('D', 3, body, 2));
    Feed(Packet('Z', 4, "", 2));
    Feed(Packet('B', 5, "", 2));
  }

  std::string dir;
  TRecordingKermit k;
  TvxTestLog log;
  std::vector<std::string> sent, fatal, received;
};

}  // namespace

TEST_F(KermitByHand, PacketCutShortNeverSwallowsTheSessionAfterIt) {
  // A header announcing ten bytes that stops after two, then a whole session.
  Feed(std::string("\x01*!") + "\r");
  Session("a.txt", "hello");
  EXPECT_EQ(ReadAll(dir + "/a.txt"), "hello");
  EXPECT_EQ(received, std::vector<std::string>{dir + "/a.txt"});
  EXPECT_EQ(Last(), Y(5));
  EXPECT_TRUE(k.aborts.empty());
  EXPECT_EQ(k.State(), fsListen);
}

TEST_F(KermitByHand, EveryLenByteLeavesTheDetectorListening) {
  for (int len = 0; len < 256; ++len) {
    SCOPED_TRACE(len);
    sent.clear();
    received.clear();
    // A packet start with this LEN and a little of a body, cut off by the next packet.
    Feed(std::string("\x01") + static_cast<char>(len) + "!D#");
    Session("f.txt", "data " + std::to_string(len));
    ASSERT_EQ(ReadAll(dir + "/f.txt"), "data " + std::to_string(len));
    ASSERT_EQ(received.size(), 1u);
    ASSERT_EQ(k.State(), fsListen);
  }
  EXPECT_TRUE(fatal.empty());
}

TEST_F(KermitByHand, UnnegotiatedLongPacketIsRefusedAndTheFileNeverReportedReceived) {
  Init();
  Feed(Packet('F', 1, "long.bin", 2));
  // An extended header (LEN blank) that the Send-Init never allowed.
  Feed(std::string("\x01 \"D") + "+#" + std::string(90, 'x') + "abc\r");
  EXPECT_EQ(Last(), N(2));
  // The end of file that follows carries the next number: it is not the packet expected.
  Feed(Packet('Z', 3, "", 2));
  EXPECT_EQ(Last(), N(2));
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(k.State(), fsReceive);
}

TEST_F(KermitByHand, OnlyTheExpectedPacketIsActedOnAndARepeatChangesNothing) {
  Init();
  Feed(Packet('F', 1, "seq.txt", 2));
  Feed(Packet('D', 3, "zz", 2));  // one ahead
  EXPECT_EQ(Last(), N(2));
  Feed(Packet('D', 2, "ab", 2));
  EXPECT_EQ(Last(), Y(2));
  Feed(Packet('D', 2, "ab", 2));  // the answer was lost: answered again, not written again
  EXPECT_EQ(Last(), Y(2));
  Feed(Packet('D', 40, "zz", 2));  // from far away
  EXPECT_EQ(Last(), N(3));
  Feed(Packet('D', 3, "cd", 2));
  Feed(Packet('Z', 4, "", 2));
  EXPECT_EQ(ReadAll(dir + "/seq.txt"), "abcd");
  EXPECT_EQ(received.size(), 1u);
}

TEST_F(KermitByHand, ReplyTimeoutAsksForTheExpectedPacket) {
  Init();
  Feed(Packet('F', 1, "t.txt", 2));
  k.DoTimeout();
  EXPECT_EQ(Last(), N(2));
}

TEST_F(KermitByHand, FilePacketsWithoutAnOpenFileEndTheSessionWithAnError) {
  for (char type : {'A', 'D', 'Z'}) {
    SCOPED_TRACE(type);
    Init();
    Feed(Packet(type, 1, type == 'A' ? "!!1" : "x", 2));
    EXPECT_EQ(Last()[3], 'E') << "never acknowledged as if written";
    EXPECT_EQ(k.State(), fsListen);
    EXPECT_EQ(k.aborts.size(), 1u);
    k.aborts.clear();
  }
  EXPECT_TRUE(received.empty());
}

TEST_F(KermitByHand, EachPacketIsTakenOnlyWhereTheFileIsAndAnyOtherEndsTheSession) {
  // The packets of one file in order, the last one out of its place, and what the E says.
  const struct {
    std::string types;
    std::string error;
  } cases[] = {
      {"FDA", "Attributes after the file's data."},
      {"FF", "File header before the end of the open file."},
      {"FAF", "File header before the end of the open file."},
      {"FAB", "Break before the end of the open file."},
      {"FDZZ", "End of file for no open file."},
      {"FDZD", "Data for no open file."},
      {"FDZA", "Attributes for no open file."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.types);
    Init();
    unsigned seq = 1;
    for (char type : c.types)
      Feed(Packet(type, seq++, type == 'F' ? "phase.txt" : type == 'A' ? "!!1" : "", 2));
    ASSERT_EQ(Last()[3], 'E') << "never acknowledged as if taken";
    EXPECT_NE(Last().find(c.error), std::string::npos) << Last();
    EXPECT_EQ(k.State(), fsListen);
    ASSERT_EQ(k.aborts.size(), 1u);
    k.aborts.clear();
  }
  // In their places, several A packets and D packets make one file.
  Init();
  Feed(Packet('F', 1, "phase.txt", 2));
  Feed(Packet('A', 2, "!!1", 2));
  Feed(Packet('A', 3, "#120261210 10:00:00", 2));
  Feed(Packet('D', 4, "a", 2));
  Feed(Packet('Z', 5, "", 2));
  Feed(Packet('B', 6, "", 2));
  EXPECT_TRUE(k.aborts.empty());
  EXPECT_EQ(ReadAll(dir + "/phase.txt"), "a");
}

TEST_F(KermitByHand, BreakInTheMiddleOfAFileFailsTheSessionAndKeepsWhatArrived) {
  Init();
  Feed(Packet('F', 1, "cut.txt", 2));
  Feed(Packet('D', 2, "part", 2));
  Feed(Packet('B', 3, "", 2));
  EXPECT_EQ(Last()[3], 'E');
  EXPECT_EQ(k.aborts.size(), 1u);
  EXPECT_TRUE(received.empty());
  // Kept, hidden: never under the name of a finished file.
  EXPECT_FALSE(Exists(dir + "/cut.txt"));
  EXPECT_EQ(ReadAll(dir + "/.cut.txt.vxpart"), "part");
}

TEST_F(KermitByHand, LineClosingMidFileFlushesWhatArrivedAndFailsTheSession) {
  Init();
  Feed(Packet('F', 1, "closed.txt", 2));
  Feed(Packet('D', 2, "first part", 2));
  ASSERT_EQ(k.GetFilePosition(), 10);
  k.DoMediumClosed();
  EXPECT_EQ(k.State(), fsListen);
  EXPECT_EQ(k.FileStream(), nullptr);
  EXPECT_EQ(ReadAll(dir + "/.closed.txt.vxpart"), "first part");
  ASSERT_EQ(k.aborts.size(), 1u);
  EXPECT_TRUE(received.empty());
}

TEST_F(KermitByHand, ErrorsOutsideATransferAreNeitherCountedNorAnswered) {
  k.SetErrorLimit(3);
  for (int i = 0; i < 20; ++i) {
    std::string bad = Packet('N', static_cast<unsigned>(i), "", 2);
    bad[4] ^= 1;
    Feed(bad);
    Feed(Packet('N', static_cast<unsigned>(i), "", 2));  // a peer's leftover NAKs
    k.DoTimeout();
  }
  EXPECT_TRUE(fatal.empty());
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(k.ErrorCount(), 0);
}

TEST_F(KermitByHand, RetryLimitCountsConsecutiveFailuresOfOnePacket) {
  k.SetErrorLimit(INT_MAX);
  k.SetRetryLimit(3);
  Init();
  Feed(Packet('F', 1, "r.txt", 2));
  std::string damaged = Packet('D', 2, "abc", 2);
  damaged[5] ^= 4;
  for (int i = 0; i < 3; ++i) Feed(damaged);
  Feed(Packet('D', 2, "abc", 2));  // got through: the count starts again
  for (int i = 0; i < 3; ++i) k.DoTimeout();
  EXPECT_TRUE(fatal.empty());
  EXPECT_EQ(k.State(), fsReceive);
  const std::size_t before = sent.size();
  k.DoTimeout();
  EXPECT_EQ(fatal, std::vector<std::string>{"Too many retries."});
  // A sender silent through the limit has left the session: no E goes to what reads the
  // line now, but a packet it still sends is answered with one.
  EXPECT_EQ(sent.size(), before);
  EXPECT_EQ(ReadAll(dir + "/.r.txt.vxpart"), "abc");
  Feed(Packet('D', 3, "def", 2));
  ASSERT_GT(sent.size(), before);
  EXPECT_EQ(Last()[3], 'E');
  EXPECT_NE(Last().find("Too many retries."), std::string::npos);
  EXPECT_EQ(ReadAll(dir + "/.r.txt.vxpart"), "abc");
}

TEST_F(KermitByHand, APeerThatRefusesThroughTheRetryLimitIsToldWhy) {
  k.SetErrorLimit(INT_MAX);
  k.SetRetryLimit(2);
  Init();
  Feed(Packet('F', 1, "r.txt", 2));
  // The sender is there: its packet arrives damaged every time.
  std::string damaged = Packet('D', 2, "abc", 2);
  damaged[5] ^= 4;
  for (int i = 0; i < 3; ++i) Feed(damaged);
  EXPECT_EQ(fatal, std::vector<std::string>{"Too many retries."});
  EXPECT_EQ(Last()[3], 'E');
}

TEST_F(KermitByHand, SenderTakesANakForTheNextPacketAsTheAcknowledgement) {
  WriteAll(dir + "/out.txt", "payload");
  k.SetCrc(crc16bit);
  k.SendFiles(dir + "/out.txt");
  ASSERT_EQ(Last()[3], 'S');
  Feed(Packet('Y', 0, "~% @-#Y3 (", 0));
  ASSERT_EQ(Last(), Packet('F', 1, "out.txt", 2));
  Feed(N(2));  // the receiver has the header and waits for packet 2
  ASSERT_EQ(Last()[3], 'A');
  const std::string attributes = Last();
  const std::size_t before = sent.size();
  Feed(N(5));                   // for no packet outstanding: ignored
  Feed(Y(1));                   // a late answer to the header: ignored
  Feed(Packet('B', 3, "", 2));  // a sender never acts on a break
  EXPECT_EQ(sent.size(), before);
  Feed(N(2));  // the attributes were lost: the same packet again
  EXPECT_EQ(Last(), attributes);
  EXPECT_EQ(k.State(), fsSend);
}

TEST_F(KermitByHand, DamagedReplyIsAnsweredByARepeatOnlyWithAdaptiveTimeout) {
  WriteAll(dir + "/out.txt", "payload");
  k.SetCrc(crc16bit);
  k.SetTimeout(5000);
  for (bool adaptive : {false, true}) {
    SCOPED_TRACE(adaptive);
    k.SetAdaptiveTimeout(adaptive);
    k.SendFiles(dir + "/out.txt");
    Feed(Packet('Y', 0, "~% @-#Y3 (", 0));
    ASSERT_EQ(Last()[3], 'F');
    Feed(Y(1));
    const std::string attributes = Last();
    ASSERT_EQ(attributes[3], 'A');
    const std::size_t before = sent.size();
    std::string damaged = Y(2);
    damaged[4] ^= 2;
    Feed(damaged);
    // The round trip of the file header was measured: the reply time-out follows it.
    EXPECT_EQ(k.SilenceTimeout() < k.Timeout(), adaptive);
    ASSERT_EQ(sent.size(), before + (adaptive ? 1 : 0));
    EXPECT_EQ(Last(), attributes);
    k.Abort();
  }
}

TEST_F(KermitByHand, AdaptiveWaitDoublesWithEachFailureOfOnePacket) {
  k.SetAdaptiveTimeout(true);
  k.SetTimeout(5000);
  k.SetErrorLimit(INT_MAX);
  Init();
  Feed(Packet('F', 1, "slow.txt", 2));
  const int base = k.SilenceTimeout();  // the round trip was measured: well below Timeout
  ASSERT_GE(base, TvxKermit::MinReplyTimeoutMs);
  ASSERT_LT(base, 1000);
  for (int i = 1; i <= 8; ++i) {
    k.DoTimeout();
    EXPECT_EQ(k.SilenceTimeout(), std::min(base << i, 10000)) << i;
  }
  Feed(Packet('D', 2, "x", 2));  // got through: back to the round trip
  EXPECT_LT(k.SilenceTimeout(), 2 * base);
}

// Only an answer that moves the session on is a round trip of the line. A Send-Init
// answered late (a peer still starting, or one that answers after its own time-out), a NAK
// and a repeat of a packet already taken are the peer's time-outs speaking: timed, they
// made every later wait of the session as long, and a transfer to gkermit on a noisy line
// crawled at 150 B/s, five seconds for every damaged packet.
TEST_F(KermitByHand, LateAnswersOfAPeerThatTimedOutNeverSetTheWait) {
  using std::chrono::milliseconds;
  const auto late = milliseconds(1000);
  WriteAll(dir + "/out.txt", std::string(500, 'x'));
  k.SetAdaptiveTimeout(true);
  k.SetTimeout(10000);
  k.SetErrorLimit(INT_MAX);
  k.SendFiles(dir + "/out.txt");
  std::this_thread::sleep_for(late);
  Feed(Packet('Y', 0, "~% @-#Y3 (", 0));
  EXPECT_EQ(k.SilenceTimeout(), k.Timeout()) << "the Send-Init's answer was timed";
  Feed(Y(1));
  ASSERT_EQ(Last()[3], 'A');
  EXPECT_LT(k.SilenceTimeout(), 1000) << "the file header's quick answer did not set the wait";
  std::this_thread::sleep_for(late);
  Feed(N(2));  // the peer timed out waiting for the attributes
  ASSERT_EQ(Last()[3], 'A');
  EXPECT_LT(k.SilenceTimeout(), 2 * 1000) << "the NAK was timed";
  k.Abort();

  // Receiving: a D repeated after the peer's time-out (our acknowledgement was lost).
  sent.clear();
  Init();
  Feed(Packet('F', 1, "in.txt", 2));
  Feed(Packet('D', 2, "abc", 2));
  ASSERT_LT(k.SilenceTimeout(), 1000);
  std::this_thread::sleep_for(late);
  Feed(Packet('D', 2, "abc", 2));
  EXPECT_EQ(Last(), Y(2));
  EXPECT_LT(k.SilenceTimeout(), 2 * 1000) << "the repeated D was timed";
}

// A loaded machine answers late now and then: once a reply took that long, no wait of the
// session is shorter, however quick the replies before and after it were; a round trip that
// varies widens the wait too.
TEST(KermitRoundTrip, WaitNeverFallsBelowTwiceTheSlowestReplyOfTheSession) {
  using std::chrono::milliseconds;
  vxkermit::TRoundTrip rt;
  EXPECT_EQ(rt.ReplyTimeout(10, 5000), 5000);  // nothing measured yet: the whole time-out
  for (int i = 0; i < 50; ++i) rt.Measured(milliseconds(2));
  const int quick = rt.ReplyTimeout(10, 5000);
  EXPECT_EQ(quick, 10);  // steady 2 ms replies: the floor
  rt.Measured(milliseconds(80));
  for (int i = 0; i < 200; ++i) rt.Measured(milliseconds(2));
  EXPECT_GE(rt.ReplyTimeout(10, 5000), 160);
  EXPECT_LE(rt.ReplyTimeout(10, 5000), 5000);
  EXPECT_EQ(rt.ReplyTimeout(10, 100), 100);  // never above the maximum
  rt.Reset();
  for (int i = 0; i < 50; ++i) rt.Measured(milliseconds(i % 2 ? 1 : 40));
  EXPECT_GT(rt.ReplyTimeout(10, 5000), 80);  // spread: beyond the mean and the slowest twice
}

// A wait the round trip cut short that runs out is a retry of the packet, not an error of
// the line; once the waits have backed off to Timeout, a time-out is an error again.
TEST_F(KermitByHand, OnlyATimeOutOfAWholeWaitCountsAsAnError) {
  k.SetAdaptiveTimeout(true);
  k.SetTimeout(5000);
  k.SetErrorLimit(INT_MAX);
  Init();
  Feed(Packet('F', 1, "slow.txt", 2));
  ASSERT_LT(k.SilenceTimeout(), k.Timeout());
  int early = 0;
  while (k.SilenceTimeout() < k.Timeout()) {
    k.DoTimeout();
    ++early;
  }
  EXPECT_GT(early, 0);
  EXPECT_EQ(k.ErrorCount(), 0);
  EXPECT_EQ(k.RetryCount(), early);
  k.DoTimeout();
  EXPECT_EQ(k.ErrorCount(), 1);
  // Without AdaptiveTimeout every time-out is an error, as in the basic protocol.
  k.SetAdaptiveTimeout(false);
  k.DoTimeout();
  EXPECT_EQ(k.ErrorCount(), 2);
}
