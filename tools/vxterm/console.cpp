#include "console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "signalcatch.h"

namespace {

// The settings to put back from exit() as well: a path out that skips the destructors.
struct termios exit_settings;
volatile sig_atomic_t exit_restore = 0;

void RestoreAtExit() {
  if (exit_restore) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &exit_settings);
}

}  // namespace

TConsole::TConsole() {
  static bool registered = false;
  if (!registered) std::atexit(RestoreAtExit);
  registered = true;
}

TConsole::~TConsole() {
  Restore();
}

bool TConsole::EnterRaw(std::string& error) {
  if (!::isatty(STDIN_FILENO)) return true;
  if (::tcgetattr(STDIN_FILENO, &saved_) != 0) {
    error = std::strerror(errno);
    return false;
  }
  struct termios raw = saved_;
  ::cfmakeraw(&raw);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  exit_settings = saved_;
  exit_restore = 1;
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) {
    error = std::strerror(errno);
    exit_restore = 0;
    return false;
  }
  raw_ = true;
  return true;
}

void TConsole::Restore() {
  if (!raw_) return;
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  raw_ = false;
  exit_restore = 0;
}

void TConsole::CatchSignals(std::function<void(int)> quit) {
  signals_ = std::make_unique<TSignalCatcher>(
      std::initializer_list<int>{SIGTERM, SIGINT, SIGHUP, SIGQUIT}, std::move(quit));
}

void TConsole::Watch(std::function<void(const char*, std::size_t)> typed) {
  input_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(input_.get(), &QSocketNotifier::activated, this, [this, typed] {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) {
      typed(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      input_->setEnabled(false);
      typed(buffer, 0);
    }
  });
}

void TConsole::Write(const std::string& text, int fd) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      fd_set out;
      FD_ZERO(&out);
      FD_SET(fd, &out);
      ::select(fd + 1, nullptr, &out, nullptr, nullptr);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // the console is gone: nothing to show the text on
    }
  }
}

int TConsole::Rows() {
  struct winsize size {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}
