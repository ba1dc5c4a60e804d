// The serial component over real pseudo-terminal pairs: open and close, both directions
// of traffic with delivery on the main thread and on the message thread, the waits,
// time-outs, a vanishing peer and the open failures with their exact text.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <atomic>
#include <random>
#include <thread>

#include "support/ptypair.h"
#include "support/serialfixture.h"
#include "support/testlog.h"
#include "support/testui.h"
#include "vxcomm/platform/serialfaults.h"
#include "vxcomm/platform/serialport.h"
#include "vxcomm/unqualified.h"

namespace {
std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random() & 0xFF);
  return s;
}

// Received bytes and the threads they were delivered on.
struct Received {
  void Add(const void* buffer, Cardinal len) {
    std::lock_guard lock(mutex);
    bytes.append(static_cast<const char*>(buffer), len);
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
      on_main = true;
    else
      off_main = true;
  }
  std::size_t Size() {
    std::lock_guard lock(mutex);
    return bytes.size();
  }
  std::string Bytes() {
    std::lock_guard lock(mutex);
    return bytes;
  }
  std::mutex mutex;
  std::string bytes;
  bool on_main = false, off_main = false;
};

class SerialComm : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(40, pty.slavePath())));
    comm.SetUseMainThread(GetParam());
    comm.SetStreamProtocol(spNone);
    comm.SetLog(&log);
  }
  void Receive() {
    comm.OnAfterReceive = [this](TObject*, const void* b, Cardinal n) { received.Add(b, n); };
  }
  PtyPair pty;
  TvxTestLog log;
  Received received;
  TvxComm comm;
};
}  // namespace

TEST_P(SerialComm, OneMebibyteArrivesCompleteAndInOrder) {
  Receive();
  comm.SetActive(true);
  ASSERT_TRUE(comm.Active());
  const std::string data = RandomBytes(1 << 20, 7);
  std::thread writer([&] {
    std::mt19937 random(3);
    std::size_t at = 0;
    while (at < data.size()) {
      std::size_t n = std::min<std::size_t>(data.size() - at, 1 + random() % 5000);
      pty.Write(data.substr(at, n));
      at += n;
    }
  });
  bool all = WaitUntil([&] { return received.Size() >= data.size(); }, 60000);
  writer.join();
  ASSERT_TRUE(all) << received.Size();
  EXPECT_TRUE(received.Bytes() == data) << "bytes lost, duplicated or reordered";
  EXPECT_EQ(received.on_main, GetParam());
  EXPECT_EQ(received.off_main, !GetParam());
  comm.SetActive(false);
}

TEST_P(SerialComm, OneMebibyteSentInBlocksArrivesAtThePeer) {
  comm.SetActive(true);
  const std::string data = RandomBytes(1 << 20, 11);
  std::string got;
  std::thread reader([&] { got = pty.Read(data.size(), 60000); });
  std::mt19937 random(5);
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t n = std::min<std::size_t>(data.size() - at, 1 + random() % 3000);
    comm.SendData(data.data() + at, static_cast<Cardinal>(n));
    at += n;
  }
  reader.join();
  EXPECT_TRUE(got == data) << got.size();
}

// What the line held before the port opened (a pseudo-terminal keeps what its far end wrote
// while nobody had it open) is no answer to this session: a peer's acknowledgement left from
// a session cut short would be taken for the next one's. What arrives once it is open is
// all delivered.
TEST_P(SerialComm, APortOpensEmptyAndBytesArrivingRightAfterOpenAreDelivered) {
  Receive();
  // Writes Stale with the port closed, opens it, writes Fresh: only Fresh is added.
  const auto openBetween = [&](const std::string& stale, const std::string& fresh) {
    const std::string expected = received.Bytes() + fresh;
    comm.SetActive(false);
    pty.Write(stale);
    comm.SetActive(true);
    pty.Write(fresh);
    EXPECT_TRUE(WaitUntil([&] { return received.Size() >= expected.size(); }, 5000));
    QTest::qWait(100);  // anything stale would have come first
    EXPECT_EQ(received.Bytes(), expected);
  };
  openBetween("stale", "fresh!");
  openBetween("while closed", "again");
}

TEST_P(SerialComm, ChangingTraceStatesWhileOpenKeepsTheEventThread) {
  Receive();
  comm.SetActive(true);
  pty.Write("a");
  ASSERT_TRUE(WaitUntil([&] { return received.Size() == 1; }, 5000));
  comm.SetTraceStates({tsCTS, tsRing, tsErr});
  comm.SetTraceStates({});
  pty.Write("b");
  EXPECT_TRUE(WaitUntil([&] { return received.Size() == 2; }, 5000));
  EXPECT_EQ(received.Bytes(), "ab");
}

TEST_P(SerialComm, WaitForInputAndReadBufferWithoutAReceiver) {
  comm.SetActive(true);
  EXPECT_FALSE(comm.WaitForInput(1, 30));
  pty.Write("hello");
  ASSERT_TRUE(comm.WaitForInput(5, 5000));
  EXPECT_EQ(comm.InQueueCount(), 5u);
  char buffer[6] = {};
  ASSERT_TRUE(comm.ReadBuffer(buffer, 5));
  EXPECT_STREQ(buffer, "hello");
  // A read cut short by its time-out does not count as done.
  comm.SetTimeoutRead(10);
  pty.Write("xy");
  ASSERT_TRUE(comm.WaitForInput(2, 5000));
  EXPECT_FALSE(comm.ReadBuffer(buffer, 4));
  EXPECT_EQ(comm.TimeoutRead(), 10u);
}

TEST_P(SerialComm, WriteTimeoutEndsAWriteToAPeerThatDoesNotRead) {
  std::vector<Cardinal> errors;
  comm.OnCommError = [&](TObject*, Cardinal code, Cardinal sys, TComStateFlags, bool&) {
    EXPECT_EQ(code, 0u);
    errors.push_back(sys);
  };
  comm.SetActive(true);
  TCOMMTIMEOUTS t = comm.GetTimeouts();
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 300;
  comm.SetTimeouts(t);
  QElapsedTimer clock;
  clock.start();
  comm.SendString(std::string(1 << 20, 'z'));
  EXPECT_LT(clock.elapsed(), 5000);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], static_cast<Cardinal>(ETIMEDOUT));
  EXPECT_TRUE(log.Has("vxComm: Communication Error 0:" + std::to_string(ETIMEDOUT)));
}

TEST_P(SerialComm, ClosingWhileDataFlows) {
  Receive();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::string block(512, 'q');
    while (!stop) {
      ::write(pty.master(), block.data(), block.size());
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (int i = 0; i < 10; ++i) {
    comm.SetActive(true);
    WaitUntil([&] { return false; }, 20);
    comm.SetActive(false);
    EXPECT_FALSE(comm.Active());
  }
  stop = true;
  writer.join();
  EXPECT_GT(received.Size(), 0u);
}

TEST_P(SerialComm, VanishedPeerClosesThePortWithNotifyAndOnClose) {
  Receive();
  TvxNotifyRecorder notes;
  comm.AddNotifyHandler(notes.Handler());
  std::atomic<int> closes{0};
  bool close_on_main = false;
  comm.OnClose = [&](TObject*) {
    ++closes;
    close_on_main = QThread::currentThread() == QCoreApplication::instance()->thread();
  };
  comm.SetActive(true);
  pty.Write("bye");
  ASSERT_TRUE(WaitUntil([&] { return received.Size() == 3; }, 5000));
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return !comm.Active(); }, 5000));
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(close_on_main);
  std::vector<int> codes = notes.Codes();
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes.back(), 1);
  // Closed from the event side: no purge and no closing log line of Close itself.
  EXPECT_FALSE(log.Has("vxComm: The port is closed succesfully"));
  comm.SetActive(false);
  EXPECT_EQ(closes, 1);
  comm.RemoveNotifyHandler(notes.Handler());
  comm.OnClose = nullptr;
}

TEST_P(SerialComm, AnExceptionInAHandlerIsReportedAndShownOnTheMainThread) {
  TvxTestUIServices ui;
  std::atomic<int> calls{0};
  comm.OnAfterReceive = [&](TObject*, const void*, Cardinal) {
    if (++calls == 1) throw Exception("handler failed");
  };
  std::vector<std::string> fatal;
  comm.OnFatalError = [&](TObject*, Cardinal code, Cardinal, const std::string& msg, bool&) {
    EXPECT_EQ(code, 1u);
    EXPECT_TRUE(TThread::IsMainThread());
    fatal.push_back(msg);
  };
  comm.SetActive(true);
  pty.Write("a");
  ASSERT_TRUE(WaitUntil([&] { return !ui.exceptions.empty(); }, 5000));
  EXPECT_EQ(ui.exceptions[0], "handler failed");
  EXPECT_EQ(fatal, std::vector<std::string>{"handler failed"});
  bool logged = false;
  for (const std::string& e : log.Entries())
    logged |= e.rfind("Fatal Error: 1, ", 0) == 0 && e.ends_with(", handler failed");
  EXPECT_TRUE(logged);
  // The port and its threads go on.
  pty.Write("b");
  EXPECT_TRUE(WaitUntil([&] { return calls == 2; }, 5000));
  EXPECT_TRUE(comm.Active());
  comm.SetActive(false);
}

INSTANTIATE_TEST_SUITE_P(Delivery, SerialComm, ::testing::Values(true, false),
                         [](const auto& info) {
                           return info.param ? "MainThread" : "MessageThread";
                         });

TEST(SerialOpenErrors, CarryTheDeviceNameAndTheSystemText) {
  TvxComm comm;
  std::vector<std::pair<Cardinal, Cardinal>> reported;
  comm.OnFatalError = [&](TObject*, Cardinal code, Cardinal detail, const std::string&, bool&) {
    reported.push_back({code, detail});
  };
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(41, "/dev/vx-no-such-port")));
  EXPECT_EQ(OpenErrorOf(comm), "Device \"COM41\" Open Error !!!\rNo such file or directory");
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(comm.LastErrorText(), "Device \"COM41\" Open Error !!!\rNo such file or directory");
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], std::make_pair(1u, 0u));

  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(42, "/dev/null")));
  EXPECT_EQ(OpenErrorOf(comm), "Device \"COM42\" Open Error !!!\rInappropriate ioctl for device");

  PtyPair pty;
  std::shared_ptr<TvxSerialDevice> holder = vxOpenSerialPort(pty.slavePath()).device;
  ASSERT_TRUE(holder);
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(43, pty.slavePath())));
  EXPECT_EQ(OpenErrorOf(comm), "Device \"COM43\" Open Error !!!\rDevice or resource busy");
  holder->Close();
  holder.reset();
  // A refused permission names the group that owns the device, when it may use it.
  ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0660), 0);
  struct stat st;
  ASSERT_EQ(::stat(pty.slavePath().c_str(), &st), 0);
  const std::string group = getgrgid(st.st_gid)->gr_name;
  vxSerialFaults().openError = EACCES;
  EXPECT_EQ(
      OpenErrorOf(comm),
      "Device \"COM43\" Open Error !!!\rPermission denied (the device belongs to the group \"" +
          group + "\": add the user to that group and log in again)");
  EXPECT_EQ(OpenErrorOf(comm), "(no exception)");
  EXPECT_TRUE(comm.Active());

  // An empty name and a name that is no port at all.
  // Port 0 has no device: the setter's reopen reports it.
  EXPECT_THROW(comm.SetComPortNo(0), Exception);
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(comm.LastErrorText(), "Device \"COM0\" Open Error !!!\rNo such file or directory");
}

TEST(SerialOpenErrors, ASuppressedErrorLeavesThePortClosed) {
  TvxComm comm;
  comm.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
    raise = false;
  };
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(44, "/dev/vx-no-such-port")));
  EXPECT_NO_THROW(comm.SetActive(true));
  EXPECT_FALSE(comm.Active());
}

TEST(SerialClosedPort, OperationsDoNothingAndReportNothing) {
  TvxTestLog log;
  TvxComm comm;
  comm.SetLog(&log);
  std::vector<TTraceStates> traces;
  comm.OnTraceState = [&](TObject*, TTraceStates s) { traces.push_back(s); };
  comm.SendChar('x');
  comm.SendString("abc");
  comm.SendData("abc", 3);
  comm.PurgeAll();
  comm.SetDTR(true);
  comm.SetRTS(true);
  EXPECT_TRUE(comm.ModemSignals().Empty());
  EXPECT_FALSE(comm.WaitForInput(1, 10));
  EXPECT_FALSE(comm.WaitForModemSignal(msDSR, 10));
  EXPECT_FALSE(comm.ReadBuffer(nullptr, 1));
  EXPECT_EQ(comm.InQueueCount(), 0u);
  EXPECT_TRUE(log.Entries().empty());
  EXPECT_TRUE(traces.empty());
  comm.Close();  // closing a closed port only reports transmit-empty
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_TRUE(traces[0] == TTraceStates{tsTxEmpty});
  EXPECT_TRUE(log.Entries().empty());
}

TEST(SerialOpenPort, ReopeningClosesFirstAndLogs) {
  PtyPair pty;
  TvxTestLog log;
  TvxNotifyRecorder notes;
  TvxComm comm;
  comm.SetLog(&log);
  comm.AddNotifyHandler(notes.Handler());
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(45, pty.slavePath())));
  comm.Open();
  comm.Open();
  EXPECT_TRUE(comm.Active());
  std::vector<int> codes = notes.Codes();
  // 3 from the port number, then open, close, open.
  EXPECT_EQ(codes, (std::vector<int>{3, 2, 1, 2}));
  EXPECT_TRUE(log.Has("vxComm: The port COM45 is opened succesfully"));
  EXPECT_TRUE(log.Has("vxComm: The port is closed succesfully"));
  // Sends log at the debug level; an empty string is nothing at all.
  log.ClearLog();
  comm.SendString("");
  EXPECT_TRUE(log.Entries().empty());
  comm.SendChar('\x1b');
  EXPECT_TRUE(log.Has("vxComm: Try to send char 1Bh ..."));
  comm.SendData("ab", 2);
  EXPECT_TRUE(log.Has("vxComm: Try to send the data with 2 length ..."));
  EXPECT_TRUE(log.Has("vxComm: ... the data transmittion is OK!"));
  EXPECT_EQ(pty.Read(3, 2000),
            "\x1b"
            "ab");
}

TEST(SerialOpenPort, TransmitEmptyReachesOnAfterSendOnlyWhenTraced) {
  PtyPair pty;
  TvxComm comm;
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(46, pty.slavePath())));
  int sent = 0;
  comm.OnAfterSend = [&](TObject*) { ++sent; };
  comm.SetActive(true);
  comm.SendString("one");
  WaitUntil([] { return false; }, 100);
  EXPECT_EQ(sent, 0);
  comm.SetTraceStates({tsTxEmpty});
  comm.SendString("two");
  EXPECT_TRUE(WaitUntil([&] { return sent == 1; }, 5000));
  EXPECT_EQ(pty.Read(6, 2000), "onetwo");
}
