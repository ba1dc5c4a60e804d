// What a close does with the output still queued: with DrainOnClose it leaves first (and
// the terminal example, which turns it on, delivers all of its standard input), without it
// the close purges it.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <random>
#include <thread>

#include "support/ptypair.h"
#include "support/serialfixture.h"

namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random() & 0xFF);
  return s;
}

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
  const std::string data = RandomBytes(512 * 1024, 11);
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
  const std::string data = RandomBytes(512 * 1024, 12);
  Queue(comm, data);
  comm.Close();
  // Only what the kernel took before the close is there, the start of the data.
  const std::string got = pty.Read(data.size(), 500);
  EXPECT_LT(got.size(), data.size());
  EXPECT_EQ(data.compare(0, got.size(), got), 0);
}

TEST(CloseOutput, TheTerminalExampleDeliversAMebibyteOfStandardInput) {
  PtyPair pty;
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string input_path = dir.filePath("input").toStdString();
  const std::string data = RandomBytes(1 << 20, 13);
  std::ofstream(input_path, std::ios::binary) << data;
  std::string got;
  std::thread reader([&] { got = pty.Read(data.size(), 120000); });
  QProcess terminal;
  terminal.setStandardInputFile(QString::fromStdString(input_path));
  terminal.start(EXAMPLE_TERMINAL_BIN, {QString::fromStdString(pty.slavePath())});
  ASSERT_TRUE(terminal.waitForFinished(120000));
  reader.join();
  EXPECT_EQ(terminal.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(terminal.exitCode(), 0) << terminal.readAllStandardError().toStdString();
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
}

}  // namespace
