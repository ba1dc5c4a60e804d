#include "support/ttyend.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QThread>

TtyEnd::TtyEnd(const std::string& path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}

TtyEnd::~TtyEnd() {
  if (fd_ >= 0) ::close(fd_);
}

void TtyEnd::Write(const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else
      QThread::msleep(1);
  }
}

std::string TtyEnd::Read(std::size_t count, int timeoutMs) {
  std::string got;
  QElapsedTimer clock;
  clock.start();
  char buffer[4096];
  while (got.size() < count && clock.elapsed() < timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) == 1) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
  }
  return got;
}

termios TermiosOf(const std::string& path) {
  termios t{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {
    ::tcgetattr(fd, &t);
    ::close(fd);
  }
  return t;
}
