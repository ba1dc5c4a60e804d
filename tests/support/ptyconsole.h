// The console of a terminal program under test: a pseudo-terminal in the settings a shell
// leaves (cooked, echo), 24 rows of 80 columns, that the test types into and reads; and the
// program run on it, as a user runs it from that shell.
#pragma once

#include <termios.h>

#include <QProcess>
#include <QSocketNotifier>
#include <QStringList>
#include <memory>
#include <string>

// Writes all of Bytes to the non-blocking Fd, waiting while it is full (a test failure when
// nobody reads it within TimeoutMs).
void WriteAllTo(int fd, const std::string& bytes, int timeoutMs = 30000);

class PtyConsole {
 public:
  // The command key of the terminal programs: Ctrl-].
  static constexpr char kCommandKey = 0x1d;

  PtyConsole();
  ~PtyConsole();
  PtyConsole(const PtyConsole&) = delete;
  PtyConsole& operator=(const PtyConsole&) = delete;

  const std::string& Path() const { return path_; }
  // Everything the program wrote so far.
  const std::string& Seen() const { return seen_; }
  void Type(const std::string& keys);
  // The command key, then Line and Enter.
  void Command(const std::string& line);
  // Waits until Needle appears at From or later in what the console showed; true when it did.
  bool WaitFor(const std::string& needle, std::size_t from = 0, int timeoutMs = 30000);
  // The console's settings now equal those before the program ran.
  bool Restored() const;
  void Drain();

 private:
  int master_ = -1, slave_ = -1;
  std::string path_;
  struct termios before_ {};
  std::string seen_;
  std::unique_ptr<QSocketNotifier> reader_;
};

// A program run with Console for its standard input, output and error, in Dir when given.
class ConsoleProgram {
 public:
  ConsoleProgram(PtyConsole& console, const QString& program, const QStringList& args,
                 const std::string& dir = "");
  ~ConsoleProgram();
  // Waits for the end: the exit status, or -1 when it did not end in TimeoutMs.
  int Finish(int timeoutMs = 30000);
  void Terminate() { process_.terminate(); }

 private:
  PtyConsole& console_;
  QProcess process_;
};
