#include "console.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

int signal_pipe[2] = {-1, -1};
// The settings to put back from exit() as well: a path out that skips the destructors.
struct termios exit_settings;
volatile sig_atomic_t exit_restore = 0;

void OnSignal(int sig) {
  const int saved = errno;
  const unsigned char n = static_cast<unsigned char>(sig);
  if (signal_pipe[1] >= 0) (void)!::write(signal_pipe[1], &n, 1);
  errno = saved;
}

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
  for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT})
    if (quit_) std::signal(sig, SIG_DFL);
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
  quit_ = std::move(quit);
  if (signal_pipe[0] < 0 && ::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  signals_ = std::make_unique<QSocketNotifier>(signal_pipe[0], QSocketNotifier::Read);
  QObject::connect(signals_.get(), &QSocketNotifier::activated, this, [this] {
    unsigned char n = 0;
    while (::read(signal_pipe[0], &n, 1) == 1)
      if (quit_) quit_(n);
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) ::sigaction(sig, &action, nullptr);
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
