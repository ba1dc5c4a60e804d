#include "support/ubootboard.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cstdio>
#include <regex>

#include "support/ptypair.h"

namespace {

constexpr const char* kQemu = "qemu-system-arm";
constexpr const char* kImage = "/usr/lib/u-boot/qemu_arm/u-boot.bin";
// Software emulation on a loaded machine boots in seconds; this leaves room.
constexpr int kBootMs = 90000;

// The board's line opened raw, for a few commands at its prompt.
class Line {
 public:
  explicit Line(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (fd_ < 0) return;
    struct termios raw;
    tcgetattr(fd_, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd_, TCSANOW, &raw);
  }
  ~Line() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Open() const { return fd_ >= 0; }
  void Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      struct pollfd p = {fd_, POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) return;
    }
  }
  // Reads into Out until Until appears in it at From or later, or TimeoutMs passed; true
  // when it did.
  bool ReadUntil(std::string& out, const std::string& until, int timeoutMs, std::size_t from = 0) {
    QElapsedTimer clock;
    clock.start();
    while (out.find(until, from) == std::string::npos && clock.elapsed() < timeoutMs) {
      struct pollfd p = {fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
    }
    return out.find(until, from) != std::string::npos;
  }
  // Presses Enter until the board's prompt answers, for up to TimeoutMs: the board may still
  // be starting, and QEMU takes a line that was closed back only after a while, dropping what
  // was written before it did.
  bool AwaitPrompt(std::string& out, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
      const std::size_t from = out.size();
      Write("\r");
      if (ReadUntil(out, "=> ", 1000, from)) return true;
    }
    return false;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<UBootBoard> UBootBoard::Boot(std::string& why) {
  if (::access(kImage, R_OK) != 0) {
    why = std::string("no bootloader image at ") + kImage + " (package u-boot-qemu)";
    return nullptr;
  }
  std::unique_ptr<UBootBoard> board(new UBootBoard);
  board->qemu_.setProcessChannelMode(QProcess::MergedChannels);
  board->qemu_.start(kQemu, {"-M", "virt", "-bios", kImage, "-nodefaults", "-display", "none",
                             "-monitor", "none", "-serial", "pty"});
  if (!board->qemu_.waitForStarted(10000)) {
    why = std::string("cannot start ") + kQemu + " (package qemu-system-arm)";
    return nullptr;
  }
  // QEMU names the pseudo-terminal it made for the board's console.
  std::string said;
  const std::regex named("redirected to (/dev/pts/[0-9]+)");
  std::smatch m;
  WaitUntil(
      [&] {
        said += board->qemu_.readAll().toStdString();
        return std::regex_search(said, m, named) || board->qemu_.state() == QProcess::NotRunning;
      },
      10000);
  if (!std::regex_search(said, m, named)) {
    why = std::string(kQemu) + " named no console line: " + said;
    return nullptr;
  }
  board->device_ = m[1];
  // Enter until the prompt answers: the board may still be starting.
  Line line(board->device_);
  if (!line.Open()) {
    why = "cannot open the board's line " + board->device_;
    return nullptr;
  }
  std::string out;
  if (line.AwaitPrompt(out, kBootMs)) return board;
  why = "no prompt from the board within " + std::to_string(kBootMs / 1000) + " s: " + out;
  return nullptr;
}

UBootBoard::~UBootBoard() {
  qemu_.kill();
  qemu_.waitForFinished(5000);
}

std::string UBootBoard::Type(const std::string& command, const std::string& until, int timeoutMs) {
  Line line(device_);
  std::string out;
  if (!line.Open() || !line.AwaitPrompt(out, 10000)) return out;
  line.Write(command + "\r");
  // What the board prints after echoing the command; what it printed before (the end of a
  // transfer) is read past.
  if (!line.ReadUntil(out, command, 5000)) return out;
  line.ReadUntil(out, until, timeoutMs, out.rfind(command) + command.size());
  return out;
}

std::string UBootBoard::LoadedCrc(std::size_t length) {
  char command[64];
  std::snprintf(command, sizeof command, "crc32 %s %zx", kLoadAddress, length);
  const std::string out = Type(command, "\n=> ", 20000);
  std::smatch m;
  static const std::regex crc("==> ([0-9a-f]{8})");
  return std::regex_search(out, m, crc) ? std::string(m[1]) : std::string();
}

std::string UBootBoard::Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", crc ^ 0xFFFFFFFFu);
  return hex;
}
