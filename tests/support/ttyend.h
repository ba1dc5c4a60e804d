// One end of a serial line in a test, opened by its path (a pty, a socat link): bytes written
// whole, bytes read until a count or a time-out; and the termios a path's line runs at.
#pragma once

#include <termios.h>

#include <string>

class TtyEnd {
 public:
  // Opens Path read-write, non-blocking, not as the controlling terminal; Ok() tells.
  explicit TtyEnd(const std::string& path);
  ~TtyEnd();
  TtyEnd(const TtyEnd&) = delete;
  TtyEnd& operator=(const TtyEnd&) = delete;

  bool Ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Writes all of Data, waiting while the line pushes back.
  void Write(const std::string& data);
  // What arrives until Count bytes or TimeoutMs passed.
  std::string Read(std::size_t count, int timeoutMs);

 private:
  int fd_;
};

// The termios of the line at Path (zeroed when it cannot be opened).
termios TermiosOf(const std::string& path);
