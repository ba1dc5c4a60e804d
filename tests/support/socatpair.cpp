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
  socat_.setProgram("socat");
  socat_.setArguments({QString::fromStdString("pty,raw,echo=0,link=" + a_),
                       QString::fromStdString("pty,raw,echo=0,link=" + b_)});
  socat_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  socat_.start();
  if (!socat_.waitForStarted(5000)) throw std::runtime_error("socat did not start");
  QElapsedTimer clock;
  clock.start();
  while (!(LinkReady(a_) && LinkReady(b_))) {
    if (clock.elapsed() > 5000) throw std::runtime_error("socat made no pty pair");
    QThread::msleep(5);
  }
}

SocatPair::~SocatPair() {
  socat_.terminate();
  if (!socat_.waitForFinished(2000)) {
    socat_.kill();
    socat_.waitForFinished(2000);
  }
}
