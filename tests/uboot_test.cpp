// Uploads to a board's bootloader (U-Boot under QEMU) as a board developer makes them: loadb
// (Kermit) with each program's defaults, and loadx and loady (XMODEM with 128-byte and 1K
// blocks, YMODEM) from vxterm's prompt. The bootloader acts on control characters in a Kermit
// data field, so a file holding every byte value crosses only if each one is prefixed. The
// bootloader computes the CRC-32 of what it got; it must equal the file's.
#include <gtest/gtest.h>

#include <QProcess>
#include <regex>

#include "support/kermitfiles.h"
#include "support/ptyconsole.h"
#include "support/ptypair.h"
#include "support/ubootboard.h"

using namespace kermitfiles;

namespace {

constexpr int kTransferMs = 180000;

// Every byte value, in runs and alone, then random bytes: 151 200 bytes.
std::string BoardFile(unsigned seed) {
  return EveryByte(200) + RandomBytes(100000, seed);
}

class UBootUpload : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    board = UBootBoard::Boot(why);
    ASSERT_TRUE(board) << why;
    src = MakeTempDir("uboot-src");
  }
  // Starts the loader at the prompt; false with what the board said when it did not start.
  ::testing::AssertionResult StartLoad() {
    const std::string out =
        board->Type(std::string("loadb ") + UBootBoard::kLoadAddress, "Ready for binary", 10000);
    if (out.find("Ready for binary") == std::string::npos)
      return ::testing::AssertionFailure() << "the board said: " << out;
    return ::testing::AssertionSuccess();
  }

  std::unique_ptr<UBootBoard> board;
  std::string src;
};

}  // namespace

TEST_F(UBootUpload, VxkermitWithItsDefaultsLoadsEveryByteValue) {
  const std::string bytes = BoardFile(21);
  WriteAll(src + "/image.bin", bytes);
  ASSERT_TRUE(StartLoad());
  QProcess vxkermit;
  vxkermit.setProcessChannelMode(QProcess::MergedChannels);
  vxkermit.start(VXKERMIT_BIN, {"send", QString::fromStdString(board->Device()),
                                QString::fromStdString(src + "/image.bin")});
  ASSERT_TRUE(WaitUntil([&] { return vxkermit.state() == QProcess::NotRunning; }, kTransferMs));
  const std::string said = vxkermit.readAll().toStdString();
  EXPECT_EQ(vxkermit.exitCode(), 0) << said;
  EXPECT_NE(said.find("1 file sent"), std::string::npos) << said;
  EXPECT_EQ(board->LoadedCrc(bytes.size()), UBootBoard::Crc32(bytes));
}

// Forced to leave control characters bare, the upload cannot work: it must fail, never claim
// a file the board does not hold, and show what the board said.
TEST_F(UBootUpload, ForcedMinimalPrefixingFailsAndShowsWhatTheBoardSaid) {
  const std::string bytes = BoardFile(23);
  WriteAll(src + "/image.bin", bytes);
  ASSERT_TRUE(StartLoad());
  QProcess vxkermit;
  vxkermit.start(VXKERMIT_BIN, {"send", "--minimal-prefixing", "--retry-limit", "3",
                                QString::fromStdString(board->Device()),
                                QString::fromStdString(src + "/image.bin")});
  ASSERT_TRUE(WaitUntil([&] { return vxkermit.state() == QProcess::NotRunning; }, kTransferMs));
  const std::string said = vxkermit.readAllStandardError().toStdString();
  if (vxkermit.exitCode() == 0) {
    EXPECT_EQ(board->LoadedCrc(bytes.size()), UBootBoard::Crc32(bytes)) << said;
  } else {
    EXPECT_EQ(vxkermit.exitCode(), 1) << said;
    EXPECT_NE(said.find("vxkermit: transfer failed: "), std::string::npos) << said;
    EXPECT_NE(said.find("vxkermit: the far end's last output: "), std::string::npos) << said;
  }
}

// As a developer does it from vxterm: Load typed at the board's prompt, then Send (with the
// image's path after it) at vxterm's; the bootloader's own CRC-32 of what it holds, shown by
// the terminal, is the image's.
void LoadFromVxterm(const std::string& load, const std::string& send, unsigned seed) {
  const std::string src = MakeTempDir("uboot-vxterm");
  const std::string bytes = BoardFile(seed);
  WriteAll(src + "/image.bin", bytes);
  std::string why;
  const std::unique_ptr<UBootBoard> board = UBootBoard::Boot(why);
  ASSERT_TRUE(board) << why;
  PtyConsole console;
  ConsoleProgram vxterm(console, VXTERM_BIN, {QString::fromStdString(board->Device())});
  ASSERT_TRUE(console.WaitFor("Ctrl-] opens the command prompt")) << console.Seen();
  std::size_t from = console.Seen().size();
  console.Type(load + " " + UBootBoard::kLoadAddress + "\r");
  ASSERT_TRUE(console.WaitFor("Ready for binary", from)) << console.Seen().substr(from);
  from = console.Seen().size();
  console.Command(send + " " + src + "/image.bin");
  ASSERT_TRUE(console.WaitFor("vxterm: 1 file sent", from, kTransferMs))
      << console.Seen().substr(from);
  // The loader ends with the load address, then the prompt; the developer types then.
  ASSERT_TRUE(console.WaitFor("## Start Addr", from)) << console.Seen().substr(from);
  ASSERT_TRUE(console.WaitFor("=> ", console.Seen().find("## Start Addr", from)))
      << console.Seen().substr(from);
  from = console.Seen().size();
  char crc[64];
  std::snprintf(crc, sizeof crc, "crc32 %s %zx\r", UBootBoard::kLoadAddress, bytes.size());
  console.Type(crc);
  ASSERT_TRUE(console.WaitFor("==> ", from)) << console.Seen().substr(from);
  ASSERT_TRUE(console.WaitFor("=> ", console.Seen().find("==> ", from) + 4))
      << console.Seen().substr(from);
  std::smatch m;
  const std::string shown = console.Seen().substr(from);
  ASSERT_TRUE(std::regex_search(shown, m, std::regex("==> ([0-9a-f]{8})"))) << shown;
  EXPECT_EQ(m[1], UBootBoard::Crc32(bytes));
  console.Command("quit");
  EXPECT_EQ(vxterm.Finish(), 0);
  EXPECT_TRUE(console.Restored());
}

TEST(UBootFromVxterm, KermitWithItsDefaultsLoadsEveryByteValue) {
  LoadFromVxterm("loadb", "send", 22);
}

// XMODEM pads the last block: the board holds the image and SUB bytes after it, and the
// CRC-32 over the image's length is the image's.
TEST(UBootFromVxterm, XmodemLoadsEveryByteValue) {
  LoadFromVxterm("loadx", "send -p xmodem", 24);
}

TEST(UBootFromVxterm, XmodemWith1KBlocksLoadsEveryByteValue) {
  LoadFromVxterm("loadx", "send -p xmodem-1k", 25);
}

TEST(UBootFromVxterm, YmodemLoadsEveryByteValue) {
  LoadFromVxterm("loady", "send -p ymodem", 26);
}
