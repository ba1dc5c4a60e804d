#include "support/ptyconsole.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <stdexcept>

#include "support/ptypair.h"

void WriteAllTo(int fd, const std::string& bytes, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (clock.elapsed() > timeoutMs) {
      ADD_FAILURE() << "nobody read what was written: " << done << " of " << bytes.size();
      return;
    }
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      struct pollfd p = {fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

PtyConsole::PtyConsole() {
  char name[256];
  struct winsize size {};
  size.ws_row = 24;
  size.ws_col = 80;
  if (openpty(&master_, &slave_, name, nullptr, &size) != 0) throw std::runtime_error("openpty");
  path_ = name;
  struct termios t;
  tcgetattr(slave_, &t);
  t.c_lflag |= ICANON | ECHO | ISIG;
  t.c_oflag |= OPOST | ONLCR;
  t.c_iflag |= ICRNL;
  tcsetattr(slave_, TCSANOW, &t);
  tcgetattr(slave_, &before_);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  reader_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
  QObject::connect(reader_.get(), &QSocketNotifier::activated, [this] { Drain(); });
}

PtyConsole::~PtyConsole() {
  reader_.reset();
  ::close(master_);
  ::close(slave_);
}

void PtyConsole::Type(const std::string& keys) {
  WriteAllTo(master_, keys);
}

void PtyConsole::Command(const std::string& line) {
  Type(std::string(1, kCommandKey) + line + "\r");
}

bool PtyConsole::WaitFor(const std::string& needle, std::size_t from, int timeoutMs) {
  return WaitUntil(
      [&] {
        Drain();
        return seen_.find(needle, from) != std::string::npos;
      },
      timeoutMs);
}

bool PtyConsole::Restored() const {
  struct termios now;
  tcgetattr(slave_, &now);
  return now.c_iflag == before_.c_iflag && now.c_oflag == before_.c_oflag &&
         now.c_cflag == before_.c_cflag && now.c_lflag == before_.c_lflag &&
         std::equal(std::begin(now.c_cc), std::end(now.c_cc), std::begin(before_.c_cc));
}

void PtyConsole::Drain() {
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(master_, buffer, sizeof buffer)) > 0)
    seen_.append(buffer, static_cast<std::size_t>(n));
}

ConsoleProgram::ConsoleProgram(PtyConsole& console, const QString& program, const QStringList& args,
                               const std::string& dir)
    : console_(console) {
  process_.setProgram(program);
  process_.setArguments(args);
  const QString tty = QString::fromStdString(console.Path());
  process_.setStandardInputFile(tty);
  process_.setStandardOutputFile(tty);
  process_.setStandardErrorFile(tty);
  if (!dir.empty()) process_.setWorkingDirectory(QString::fromStdString(dir));
  process_.start();
}

ConsoleProgram::~ConsoleProgram() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

int ConsoleProgram::Finish(int timeoutMs) {
  WaitUntil([&] { return process_.state() == QProcess::NotRunning; }, timeoutMs);
  if (process_.state() != QProcess::NotRunning) return -1;
  console_.Drain();
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}
