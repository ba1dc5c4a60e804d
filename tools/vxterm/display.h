// How received bytes reach the console: as they are, or as hex (16 bytes a row), each line
// opened by a time stamp when asked; and the received lines as the session log keeps them.
//
// Pure: no I/O, any thread; the time of day is given by the caller.
#pragma once

#include <cstdint>
#include <string>

// "HH:MM:SS.mmm" for Msecs since midnight.
std::string FormatStamp(std::int64_t msecs);

class TDisplay {
 public:
  bool Hex() const { return hex_; }
  bool Timestamps() const { return timestamps_; }
  // Switches the hex view; a hex row begun is ended first (returned, for the console). The
  // hex view begins its rows on a line of their own.
  std::string SetHex(bool on);
  void SetTimestamps(bool on) { timestamps_ = on; }
  // The console text for received Data; Stamp opens every line when time stamps are on.
  std::string Render(const char* data, std::size_t len, const std::string& stamp);

 private:
  bool hex_ = false;
  bool timestamps_ = false;
  // True for a byte that shows on the console (not a control byte, not part of an escape
  // sequence); follows the escape sequences through Escape.
  bool Printing(unsigned char c);

  bool line_start_ = true;
  int row_ = 0;     // bytes in the hex row begun
  int escape_ = 0;  // 1 after ESC, 2 inside a control sequence
};

// The text of a log entry: every control byte (tab included) and every byte from 0x7f up
// as \xNN, a backslash as \\, so that an entry is one line of ASCII in one escape form.
std::string LogText(const std::string& text);

// Cuts received bytes into lines for the log: a line ends at LF (a CR before it, or alone,
// is dropped); the other bytes are kept as they came (the log escapes them). A line longer
// than 4096 bytes is cut there.
class TLineSplitter {
 public:
  // Adds Data; Line is called with each line completed.
  template <class F>
  void Feed(const char* data, std::size_t len, F&& line) {
    for (std::size_t i = 0; i < len; ++i)
      if (Take(static_cast<unsigned char>(data[i]))) {
        line(current_);
        current_.clear();
      }
  }
  // The line begun, if any, as the log shows it; the splitter is emptied.
  std::string Rest();

 private:
  bool Take(unsigned char c);
  std::string current_;
};
