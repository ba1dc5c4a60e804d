#include "support/childprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <thread>

ChildProcess::~ChildProcess() {
  if (!Signal(SIGTERM, 2000)) Signal(SIGKILL, 2000);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& outputFile) {
  // Everything the child needs is made before the fork: between fork and exec it may only
  // call what is safe in a copy of a threaded process.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out = -1;
  if (!outputFile.empty()) {
    out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return false;
  }
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    if (out >= 0) ::close(out);
    return false;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    if (out >= 0) ::dup2(out, STDOUT_FILENO);
    ::execvp(argv[0], argv.data());
    const char failed = 1;
    (void)!::write(ready[1], &failed, 1);
    ::_exit(127);
  }
  if (out >= 0) ::close(out);
  ::close(ready[1]);
  // The pipe closes on a successful exec and carries a byte when it failed.
  char failed = 0;
  ssize_t n = -1;
  if (pid_ > 0) {
    do n = ::read(ready[0], &failed, 1);
    while (n < 0 && errno == EINTR);
  }
  const bool started = n == 0;
  ::close(ready[0]);
  if (!started && pid_ > 0) {
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  return started;
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  // ECHILD: reaped elsewhere, gone all the same.
  const pid_t reaped = ::waitpid(pid_, nullptr, WNOHANG);
  if (reaped == pid_ || (reaped < 0 && errno == ECHILD)) pid_ = -1;
  return pid_ > 0;
}

bool ChildProcess::Signal(int signal, int timeoutMs) {
  if (!Running()) return true;
  ::kill(pid_, signal);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}
