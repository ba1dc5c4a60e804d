// The serial component's queues: the per-byte write time-out, the receive buffer sized from
// BufferInSize, and the purges (Close discarding output, PurgeIn, PurgeOut, and RTS dropped
// by them in RS-485 software mode), over pseudo-terminals and the virtual null-modem.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>
#include <memory>

#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/serialfixture.h"

namespace {
std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7 + i / 251) % 61);
  return s;
}

// Blocks as the receive handler sees them.
struct Blocks {
  void Add(const void* b, Cardinal n) {
    std::lock_guard lock(mutex);
    bytes.append(static_cast<const char*>(b), n);
    largest = std::max(largest, n);
  }
  std::size_t Size() {
    std::lock_guard lock(mutex);
    return bytes.size();
  }
  std::mutex mutex;
  std::string bytes;
  Cardinal largest = 0;
};
}  // namespace

TEST(WriteTimeout, AWaitedWriteEndsAfterItsLengthTimesTheTimeoutPerByte) {
  PtyPair pty;  // its far end reads nothing
  TvxComm comm;
  comm.SetStreamProtocol(spNone);
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(100, pty.slavePath())));
  std::vector<Cardinal> errors;
  comm.OnCommError = [&](TObject*, Cardinal code, Cardinal sys, TComStateFlags, bool&) {
    EXPECT_EQ(code, 0u);
    errors.push_back(sys);
  };
  comm.SetActive(true);
  // A block without a time-out fills the line; what does not fit waits in the output queue.
  comm.SetTimeoutWrite(0);
  const std::string fill(1 << 20, 'f');
  comm.SendData(fill.data(), static_cast<Cardinal>(fill.size()));
  ASSERT_TRUE(errors.empty());
  ASSERT_GT(comm.OutQueueCount(), 0u);

  // A write queued behind it ends by its own deadline, Len x TimeoutWrite from its call.
  comm.SetTimeoutWrite(20);
  EXPECT_EQ(comm.TimeoutWrite(), 20u);
  for (Cardinal len : {5u, 40u}) {
    QElapsedTimer clock;
    clock.start();
    comm.SendString(std::string(len, 's'));
    const qint64 waited = clock.elapsed();
    ASSERT_FALSE(errors.empty()) << len;
    EXPECT_EQ(errors.back(), static_cast<Cardinal>(ETIMEDOUT));
    EXPECT_GE(waited, static_cast<qint64>(len) * 20) << len;
  }
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_GT(comm.OutQueueCount(), 0u) << "the block ahead is still queued";

  // The timed-out strings never reach the line: once the queue is purged, the far end gets
  // the next string and nothing of them.
  comm.PurgeOut();
  comm.SetTimeoutWrite(100);
  comm.SendString("end");
  std::string got;
  for (int i = 0; i < 100 && got.find("end") == std::string::npos; ++i)
    got += pty.Read(1 << 20, 50);
  ASSERT_NE(got.find("end"), std::string::npos);
  EXPECT_EQ(got.find('s'), std::string::npos);
}

TEST(ReceiveBuffer, IsSizedFromBufferInSizeWithAFloorOf8192) {
  struct Case {
    std::uint16_t bufferIn;
    Cardinal largest;  // the buffer less the byte the terminal ends a block with
  };
  for (Case c : {Case{1000, 8191}, Case{8192, 8191}, Case{16384, 16383}, Case{65535, 65534}}) {
    TvxNullModem modem("/virtual/buffer-A", "/virtual/buffer-B");
    TvxComm comm;
    comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(101, modem.Name(0))));
    comm.SetBufferInSize(c.bufferIn);
    Blocks blocks;
    comm.OnAfterReceive = [&](TObject*, const void* b, Cardinal n) { blocks.Add(b, n); };
    comm.SetActive(true);
    const std::string data = Pattern(200000);  // queued at once: every block is a full one
    modem.Feed(0, data);
    ASSERT_TRUE(WaitUntil([&] { return blocks.Size() >= data.size(); }, 10000)) << c.bufferIn;
    EXPECT_TRUE(blocks.bytes == data) << c.bufferIn;
    EXPECT_EQ(blocks.largest, c.largest) << c.bufferIn;
    comm.SetActive(false);
    comm.OnAfterReceive = nullptr;
  }
}

TEST(ReceiveBuffer, ANewSizeTakesEffectAtTheNextOpen) {
  TvxNullModem modem("/virtual/resize-A", "/virtual/resize-B");
  TvxComm comm;
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(102, modem.Name(0))));
  Blocks blocks;
  comm.OnAfterReceive = [&](TObject*, const void* b, Cardinal n) { blocks.Add(b, n); };
  comm.SetActive(true);
  comm.SetBufferInSize(32768);
  modem.Feed(0, Pattern(100000));
  ASSERT_TRUE(WaitUntil([&] { return blocks.Size() >= 100000; }, 10000));
  EXPECT_EQ(blocks.largest, 8191u);
  comm.SetActive(false);
  comm.SetActive(true);
  modem.Feed(0, Pattern(100000));
  ASSERT_TRUE(WaitUntil([&] { return blocks.Size() >= 200000; }, 10000));
  EXPECT_EQ(blocks.largest, 32767u);
  comm.OnAfterReceive = nullptr;
}

namespace {
// The component on end A of a paced null-modem (2000 bytes take about two seconds at 9600
// baud), and a second component on end B that leaves what arrives queued.
class PacedLine : public ::testing::Test {
 protected:
  void SetUp() override {
    modem.SetPacing(true);
    comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(103, modem.Name(0))));
    comm.SetBaudRate(9600);
    comm.SetStreamProtocol(spNone);
    far.SetComPortNo(static_cast<std::uint16_t>(MapPort(104, modem.Name(1))));
    far.SetBaudRate(9600);
    far.SetStreamProtocol(spNone);
    far.SetActive(true);
  }
  // What has arrived at the far end so far, taken from its queue.
  std::string FarReceived() {
    std::string s(far.InQueueCount(), '\0');
    if (!s.empty()) {
      EXPECT_TRUE(far.ReadBuffer(s.data(), static_cast<Cardinal>(s.size())));
    }
    return s;
  }
  TvxNullModem modem{"/virtual/paced-A", "/virtual/paced-B"};
  TvxComm comm;
  TvxComm far;
  const std::string block = Pattern(2000);
};
}  // namespace

TEST_F(PacedLine, CloseDiscardsTheOutputStillQueued) {
  comm.SetActive(true);
  comm.SendData(block.data(), static_cast<Cardinal>(block.size()));
  EXPECT_GT(comm.OutQueueCount(), 0u);
  comm.SetActive(false);
  const std::string arrived = FarReceived();
  EXPECT_LT(arrived.size(), block.size());
  EXPECT_EQ(arrived, block.substr(0, arrived.size()));
  // Nothing more is on its way.
  EXPECT_FALSE(far.WaitForInput(static_cast<Cardinal>(arrived.size()) + 1, 0));
}

TEST_F(PacedLine, PurgeOutDiscardsQueuedOutputAndTheLineGoesOn) {
  comm.SetActive(true);
  comm.SendData(block.data(), static_cast<Cardinal>(block.size()));
  comm.PurgeOut();
  EXPECT_EQ(comm.OutQueueCount(), 0u);
  comm.SendString("after");  // waits until it is out
  ASSERT_TRUE(far.WaitForInput(5, 5000));
  const std::string arrived = FarReceived();
  ASSERT_GE(arrived.size(), 5u);
  EXPECT_LT(arrived.size(), block.size());
  EXPECT_EQ(arrived.substr(arrived.size() - 5), "after");
  EXPECT_EQ(arrived.substr(0, arrived.size() - 5), block.substr(0, arrived.size() - 5));
}

TEST_F(PacedLine, PurgesDropRtsInRs485SoftwareMode) {
  comm.SetRS485Mode(true);
  comm.SetActive(true);
  ASSERT_TRUE(comm.SoftwareRTS());  // the virtual line has no kernel RS-485
  EXPECT_FALSE(modem.Rts(0)) << "RTS is down while nothing is sent";
  comm.SendData(block.data(), static_cast<Cardinal>(block.size()));
  EXPECT_TRUE(modem.Rts(0)) << "raised for the send";
  comm.PurgeOut();  // long before the block would be out
  EXPECT_FALSE(modem.Rts(0));
  comm.SendData(block.data(), static_cast<Cardinal>(block.size()));
  EXPECT_TRUE(modem.Rts(0));
  comm.PurgeAll();
  EXPECT_FALSE(modem.Rts(0));
  // PurgeIn concerns the input only.
  comm.SendData(block.data(), static_cast<Cardinal>(block.size()));
  comm.PurgeIn();
  EXPECT_TRUE(modem.Rts(0));
  comm.PurgeOut();
}

TEST(PurgeIn, DiscardsQueuedInputAndKeepsWhatComesAfter) {
  PtyPair pty;
  TvxComm comm;  // no receiver: input stays queued
  comm.SetStreamProtocol(spNone);
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(105, pty.slavePath())));
  comm.SetActive(true);
  pty.Write("old bytes");
  ASSERT_TRUE(comm.WaitForInput(9, 5000));
  comm.PurgeIn();
  EXPECT_EQ(comm.InQueueCount(), 0u);
  pty.Write("new");
  ASSERT_TRUE(comm.WaitForInput(3, 5000));
  char buffer[4] = {};
  ASSERT_TRUE(comm.ReadBuffer(buffer, 3));
  EXPECT_STREQ(buffer, "new");
  EXPECT_EQ(comm.InQueueCount(), 0u);
}

TEST(CloseDiscardsOutput, OnAPseudoTerminalTheQueuedRestNeverArrives) {
  PtyPair pty;
  TvxComm comm;
  comm.SetStreamProtocol(spNone);
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(106, pty.slavePath())));
  comm.SetActive(true);
  const std::string data = Pattern(1 << 20);  // far more than the line holds
  comm.SendData(data.data(), static_cast<Cardinal>(data.size()));
  ASSERT_GT(comm.OutQueueCount(), 0u);
  comm.SetActive(false);
  const std::string arrived = pty.Read(data.size(), 500);
  EXPECT_LT(arrived.size(), data.size());
  EXPECT_EQ(arrived, data.substr(0, arrived.size()));
}
