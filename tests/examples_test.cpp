// The three task examples (examples/readasync, writewait, listports) run as a user runs
// them, against a pseudo-terminal pair: what they print is what crossed the line, what
// went over the line is what they were given, and the ports they list are the library's.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QProcess>
#include <filesystem>
#include <memory>
#include <string>

#include "support/programrun.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

namespace {

// True once Process holds Device open (a descriptor of it under /proc).
bool HoldsOpen(const QProcess& process, const std::string& device) {
  std::error_code ec;
  const auto target = std::filesystem::canonical(device, ec);
  const std::string fds = "/proc/" + std::to_string(process.processId()) + "/fd";
  for (const auto& fd : std::filesystem::directory_iterator(fds, ec))
    if (std::filesystem::read_symlink(fd.path(), ec) == target) return true;
  return false;
}

}  // namespace

TEST(Examples, ReadAsyncPrintsWhatCrossesTheLineAndEndsWhenItGoesAway) {
  auto pair = std::make_unique<SocatPair>();
  QProcess reader;
  reader.start(EXAMPLE_READASYNC_BIN, {QString::fromStdString(pair->A())});
  ASSERT_TRUE(reader.waitForStarted(5000));
  ASSERT_TRUE(WaitUntil([&] { return HoldsOpen(reader, pair->A()); }, 10000));
  std::string sent;
  for (int i = 0; i < 256; ++i) sent += static_cast<char>(i);
  sent += "the end\n";
  const int far = ::open(pair->B().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(far, 0);
  ASSERT_EQ(::write(far, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
  std::string printed;
  EXPECT_TRUE(WaitUntil(
      [&] {
        printed += reader.readAllStandardOutput().toStdString();
        return printed.size() >= sent.size();
      },
      10000));
  ::close(far);
  EXPECT_TRUE(printed == sent);
  pair.reset();  // socat killed: the line goes away and the example ends
  ASSERT_TRUE(WaitForEnd(reader, 10000));
  EXPECT_EQ(reader.exitCode(), 0);
}

TEST(Examples, WriteWaitPutsItsTextOnTheLine) {
  PtyPair pty;
  const std::string text = "written and waited for";
  QProcess writer;
  writer.start(EXAMPLE_WRITEWAIT_BIN,
               {QString::fromStdString(pty.slavePath()), QString::fromStdString(text)});
  ASSERT_TRUE(writer.waitForStarted(5000));
  EXPECT_EQ(pty.Read(text.size(), 10000), text);
  ASSERT_TRUE(WaitForEnd(writer, 10000));
  EXPECT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().toStdString();
}

TEST(Examples, WriteWaitTellsAnOpenThatFailsWithItsReason) {
  const ProgramRun run = RunProgram(EXAMPLE_WRITEWAIT_BIN, {"/dev/vx-no-such-port", "x"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("/dev/vx-no-such-port"), std::string::npos) << run.err;
  EXPECT_EQ(RunProgram(EXAMPLE_WRITEWAIT_BIN, {}).code, 2);
}

TEST(Examples, ListPortsPrintsTheLibrarysPorts) {
  TvxComm comm;
  comm.EnumDevices();
  std::string expected;
  for (int i = 0; i < comm.DeviceCount(); ++i) expected += comm.GetDevice(i)->PortName + "\n";
  const ProgramRun run = RunProgram(EXAMPLE_LISTPORTS_BIN, {});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, expected);
}
