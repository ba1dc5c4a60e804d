// A program started with fork and exec, for the helpers that start a peer beside threads of
// ours (socat, ser2net). QProcess starts its children with vfork semantics (clone with
// CLONE_VM): ThreadSanitizer does not see that clone, the child's calls before exec run on
// the parent thread's sanitizer state, and later reports name races that are not there. A
// child made by fork is one the sanitizer knows.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills the program if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts Program (looked up in PATH) with Args, its standard output to OutputFile when one
  // is given (else the test's own), its standard error the test's; false when it cannot start.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::string& outputFile = "");
  bool Running();
  // Sends Signal and waits up to TimeoutMs for the end; true once the program has ended.
  bool Signal(int signal, int timeoutMs);

 private:
  pid_t pid_ = -1;  // -1 once reaped, or before Start
};
