#include "support/ptypair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <stdexcept>

PtyPair::PtyPair() {
  char name[256];
  struct termios raw;
  cfmakeraw(&raw);
  if (openpty(&master_, &slave_keeper_, name, &raw, nullptr) != 0)
    throw std::runtime_error("openpty failed");
  slave_path_ = name;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (slave_keeper_ >= 0) ::close(slave_keeper_);
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
  // Without the keeper the slave sees the hang-up at once.
  if (slave_keeper_ >= 0) ::close(slave_keeper_);
  slave_keeper_ = -1;
}

void PtyPair::Write(const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(master_, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      struct pollfd p = {master_, POLLOUT, 0};
      if (::poll(&p, 1, 5000) <= 0) throw std::runtime_error("pty write stalled");
    }
  }
}

std::string PtyPair::Read(std::size_t count, int timeoutMs) {
  std::string out;
  QElapsedTimer clock;
  clock.start();
  while (out.size() < count && clock.elapsed() < timeoutMs) {
    struct pollfd p = {master_, POLLIN, 0};
    if (::poll(&p, 1, 10) > 0) {
      char buf[4096];
      ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (n > 0) out.append(buf, static_cast<std::size_t>(n));
    }
    QCoreApplication::processEvents();
  }
  return out;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
  return done();
}

bool WaitUntilDeleted(const QPointer<QObject>& object, int timeoutMs) {
  return WaitUntil(
      [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return object.isNull();
      },
      timeoutMs);
}

std::string MakeTempDir(const std::string& tag) {
  QString base = qEnvironmentVariable("VXCOMM_TEST_TMP", QDir::tempPath());
  QDir().mkpath(base);
  QTemporaryDir dir(base + "/" + QString::fromStdString(tag) + "-XXXXXX");
  dir.setAutoRemove(false);
  return dir.path().toStdString();
}
