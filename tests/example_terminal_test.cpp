// The terminal example run as a user runs it, with a mebibyte on its standard input and a
// pseudo-terminal as its line: every byte reaches the line, in order, before it ends.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <thread>

#include "support/kermitfiles.h"
#include "support/ptypair.h"

namespace {

TEST(TerminalExample, DeliversAMebibyteOfStandardInputBeforeItEnds) {
  PtyPair pty;
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string input_path = dir.filePath("input").toStdString();
  const std::string data = kermitfiles::RandomBytes(1 << 20, 13);
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
