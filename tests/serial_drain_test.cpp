// What a close does with the output still queued: with DrainOnClose it leaves first, as
// long as the line takes it; without it the close purges it.
#include <gtest/gtest.h>

#include <thread>

#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "support/serialfixture.h"

namespace {

// Queues Data on Comm in blocks of 4 KiB, as a program that relays a stream does.
void Queue(TvxComm& comm, const std::string& data) {
  for (std::size_t at = 0; at < data.size(); at += 4096)
    comm.SendData(data.data() + at,
                  static_cast<Cardinal>(std::min<std::size_t>(4096, data.size() - at)));
}

TEST(CloseOutput, WithDrainOnCloseEveryQueuedByteLeavesBeforeTheClose) {
  PtyPair pty;
  TvxComm comm;
  comm.SetDeviceName(pty.slavePath());
  comm.SetStreamProtocol(spNone);
  comm.SetDrainOnClose(true);
  ASSERT_TRUE(comm.TryOpen());
  const std::string data = kermitfiles::RandomBytes(512 * 1024, 11);
  std::string got;
  std::thread reader([&] { got = pty.Read(data.size(), 60000); });
  Queue(comm, data);
  comm.Close();
  reader.join();
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
}

// Opens the pty's slave at 115200 with DrainOnClose and write time-outs that would let a
// queue of 512 KiB wait for days.
bool OpenPatient(TvxComm& comm, const PtyPair& pty) {
  comm.SetDeviceName(pty.slavePath());
  comm.SetStreamProtocol(spNone);
  comm.SetDrainOnClose(true);
  comm.SetBaudRate(115200);
  if (!comm.TryOpen()) return false;
  TCOMMTIMEOUTS t;
  t.WriteTotalTimeoutMultiplier = 1000;
  t.WriteTotalTimeoutConstant = 1000;
  comm.SetTimeouts(t);
  return true;
}

TEST(CloseOutput, ALineThatTakesNothingDoesNotHoldTheClose) {
  // Nobody reads the far end (a peer that is gone): the close gives up on what cannot leave
  // instead of waiting out the write time-outs. What arrived is the start of the data.
  PtyPair pty;
  TvxComm comm;
  ASSERT_TRUE(OpenPatient(comm, pty));
  const std::string data = kermitfiles::RandomBytes(512 * 1024, 13);
  Queue(comm, data);
  ASSERT_GT(comm.OutQueueCount(), 0u);
  comm.Close();
  const std::string got = pty.Read(data.size(), 500);
  EXPECT_LT(got.size(), data.size());
  EXPECT_EQ(data.compare(0, got.size(), got), 0);
}

TEST(CloseOutput, AReaderThatPausesStillGetsEveryByte) {
  // The far end reads in pieces with pauses shorter than the stall the close allows: the
  // queue keeps moving, so all of it leaves.
  PtyPair pty;
  TvxComm comm;
  ASSERT_TRUE(OpenPatient(comm, pty));
  const std::string data = kermitfiles::RandomBytes(256 * 1024, 14);
  const int pause_ms = static_cast<int>(TvxComm::DrainStallMs(115200)) / 3;
  std::string got;
  std::thread reader([&] {
    while (got.size() < data.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
      const std::string piece =
          pty.Read(std::min<std::size_t>(32 * 1024, data.size() - got.size()), 5000);
      if (piece.empty()) return;
      got += piece;
    }
  });
  Queue(comm, data);
  comm.Close();
  reader.join();
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
}

TEST(CloseOutput, WithoutItTheClosePurgesWhatIsQueued) {
  PtyPair pty;
  TvxComm comm;
  comm.SetDeviceName(pty.slavePath());
  comm.SetStreamProtocol(spNone);
  ASSERT_TRUE(comm.TryOpen());
  const std::string data = kermitfiles::RandomBytes(512 * 1024, 12);
  Queue(comm, data);
  comm.Close();
  // Only what the kernel took before the close is there, the start of the data.
  const std::string got = pty.Read(data.size(), 500);
  EXPECT_LT(got.size(), data.size());
  EXPECT_EQ(data.compare(0, got.size(), got), 0);
}

}  // namespace
