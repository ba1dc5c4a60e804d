#include "support/socatpair.h"

#include <sys/stat.h>
#include <QElapsedTimer>
#include <QThread>
#include <stdexcept>

#include "support/ptypair.h"

namespace {

bool LinkReady(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

SocatPair::SocatPair() : SocatPair(MakeTempDir("socat")) {}

SocatPair::SocatPair(const std::string& dir) {
  a_ = dir + "/A";
  b_ = dir + "/B";
  if (!socat_.Start("socat", {"pty,raw,echo=0,link=" + a_, "pty,raw,echo=0,link=" + b_}))
    throw std::runtime_error("socat did not start");
  QElapsedTimer clock;
  clock.start();
  while (!(LinkReady(a_) && LinkReady(b_))) {
    if (clock.elapsed() > 5000) throw std::runtime_error("socat made no pty pair");
    QThread::msleep(5);
  }
}
