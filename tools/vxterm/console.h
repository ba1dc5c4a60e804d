// The console vxterm runs in: raw mode while connected, its settings restored on every way
// out (the destructor, exit(), and the signals that end a program, which are turned into an
// orderly quit through the event loop), its size for the prompt line, and its output.
//
// Thread: the main thread; the signal handler only writes the signal's number to a pipe.
#pragma once

#include <termios.h>

#include <QObject>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;
class TSignalCatcher;

class TConsole : public QObject {
 public:
  TConsole();
  // Restores the settings.
  ~TConsole() override;
  // Puts standard input in raw mode when it is a terminal, keeping its settings for Restore.
  // False, with Error set, when a terminal refuses.
  bool EnterRaw(std::string& error);
  // Puts back the settings EnterRaw found; nothing when it changed nothing. Idempotent.
  void Restore();
  // Calls Quit(signal) on the main thread after SIGTERM, SIGINT, SIGHUP or SIGQUIT.
  void CatchSignals(std::function<void(int)> quit);
  // Calls Typed with what the user types; end of input is an empty block.
  void Watch(std::function<void(const char*, std::size_t)> typed);
  // Writes all of Text to Fd (standard output unless told).
  static void Write(const std::string& text, int fd = 1);
  // Rows of the console; 0 when not known.
  static int Rows();

 private:
  struct termios saved_ {};
  bool raw_ = false;
  std::unique_ptr<QSocketNotifier> input_;
  std::unique_ptr<TSignalCatcher> signals_;
};
