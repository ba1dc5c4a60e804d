// A board running the U-Boot bootloader under QEMU (qemu-system-arm, the virt machine, the
// u-boot-qemu package's image), its console on a pseudo-terminal: the far end a board
// developer's tools meet. Run as a black box: the test types commands at its prompt and
// reads what it prints, and a program under test takes the same line in between.
#pragma once

#include <QProcess>
#include <cstdint>
#include <memory>
#include <string>

class UBootBoard {
 public:
  // Where the bootloader's loaders put a file on this board.
  static constexpr const char* kLoadAddress = "0x40200000";

  // Boots the board and waits for its prompt; nullptr, with Why set, when it cannot
  // (QEMU or the image missing, no prompt within the time).
  static std::unique_ptr<UBootBoard> Boot(std::string& why);
  ~UBootBoard();
  UBootBoard(const UBootBoard&) = delete;
  UBootBoard& operator=(const UBootBoard&) = delete;

  // The board's console line, for the program under test.
  const std::string& Device() const { return device_; }
  // Opens the line, types Command and Enter, and collects what the board prints until Until
  // appears after the echo (or TimeoutMs passed); closes the line again. Returns all of it.
  std::string Type(const std::string& command, const std::string& until, int timeoutMs);
  // What the board reports of the last file loaded at kLoadAddress with Length bytes: the
  // CRC-32 its crc32 command computes, as eight hex digits; empty when it printed none.
  std::string LoadedCrc(std::size_t length);

  // The CRC-32 (as zlib and the bootloader compute it) of Bytes, as eight hex digits.
  static std::string Crc32(const std::string& bytes);

 private:
  UBootBoard() = default;

  QProcess qemu_;
  std::string device_;
};
