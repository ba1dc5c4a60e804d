// What a close does with the output still queued: with DrainOnClose it leaves first,
// without it the close purges it.
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
