#include "signalcatch.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace {

int signal_pipe[2] = {-1, -1};  // one for the process; written by the handler only

void OnSignal(int sig) {
  const int saved = errno;
  const unsigned char n = static_cast<unsigned char>(sig);
  if (signal_pipe[1] >= 0) (void)!::write(signal_pipe[1], &n, 1);
  errno = saved;
}

}  // namespace

TSignalCatcher::TSignalCatcher(std::initializer_list<int> caughtSignals,
                               std::function<void(int)> caught)
    : signals_(caughtSignals), caught_(std::move(caught)) {
  if (signal_pipe[0] < 0 && ::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(signal_pipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    unsigned char n = 0;
    while (::read(signal_pipe[0], &n, 1) == 1)
      if (caught_) caught_(n);
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int sig : signals_) ::sigaction(sig, &action, nullptr);
}

TSignalCatcher::~TSignalCatcher() {
  for (const int sig : signals_) std::signal(sig, SIG_DFL);
}
