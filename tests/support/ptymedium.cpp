#include "support/ptymedium.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

TvxPtyMedium::TvxPtyMedium(QObject* owner) : TvxBaseIO(owner) {
  SetUsesWorkerThread(true);
}

TvxPtyMedium::~TvxPtyMedium() {
  Destroying();
  Close();
}

THandle TvxPtyMedium::OpenHandle() {
  int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  ++open_count_;
  return fd;
}

void TvxPtyMedium::ThreadExecute(TvxThreadIO* thread) {
  int fd = static_cast<int>(Handle());
  while (!thread->Terminated()) {
    struct pollfd p = {fd, POLLIN, 0};
    int r = ::poll(&p, 1, 20);
    if (r < 0) return;
    if (r == 0) continue;
    if (p.revents & POLLIN) {
      ssize_t n = ::read(fd, buffer_.data(), buffer_.size());
      if (n > 0)
        DeliverData(buffer_.data(), static_cast<Cardinal>(n));
      else if (n == 0 || errno != EAGAIN)
        return;
    } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      return;
    }
  }
}

void TvxPtyMedium::SendChar(char ch) {
  SendData(&ch, 1);
}

void TvxPtyMedium::SendString(const std::string& s) {
  SendData(s.data(), static_cast<Cardinal>(s.size()));
}

void TvxPtyMedium::SendData(const void* buffer, Cardinal len) {
  if (!IsOpen()) return;
  sent.append(static_cast<const char*>(buffer), len);
  const char* p = static_cast<const char*>(buffer);
  while (len > 0) {
    ssize_t n = ::write(static_cast<int>(Handle()), p, len);
    if (n <= 0) return;
    p += n;
    len -= static_cast<Cardinal>(n);
  }
}

void TvxPtyMedium::PurgeIn() {
  tcflush(static_cast<int>(Handle()), TCIFLUSH);
}
void TvxPtyMedium::PurgeOut() {
  tcflush(static_cast<int>(Handle()), TCOFLUSH);
}
void TvxPtyMedium::PurgeAll() {
  tcflush(static_cast<int>(Handle()), TCIOFLUSH);
}
