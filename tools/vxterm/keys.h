// The keys of the terminal: the command key given by --escape, and the editing of the line
// typed at the vxterm> prompt.
//
// Pure: no I/O, any thread.
#pragma once

#include <string>

// The command key Text names: "^]" or "ctrl-]" style (a control key, ^@ to ^_ and ^?), or a
// byte in hex ("0x1d"). False for anything else, and for keys a user types as text.
bool ParseEscapeKey(const std::string& text, unsigned char& key);

// How a key is named for a person: "Ctrl-]" for a control key, else "0xNN".
std::string EscapeKeyName(unsigned char key);

// The line typed at the prompt. Printable bytes (and bytes from 0x80 up, for names in UTF-8)
// are added, Backspace or Delete takes the last one back, Ctrl-U empties the line, Enter ends
// it, Ctrl-C or Escape abandons it; the command key on an empty line asks for the key itself
// to be sent to the line. Other control bytes, and bytes past kMaxLength, are ignored.
class TPromptLine {
 public:
  static constexpr std::size_t kMaxLength = 4096;
  enum TResult { Editing, Execute, Cancel, SendKey };
  explicit TPromptLine(unsigned char escape) : escape_(escape) {}
  // Takes one typed byte.
  TResult Feed(unsigned char ch);
  const std::string& Text() const { return text_; }
  void Clear() { text_.clear(); }

 private:
  unsigned char escape_;
  std::string text_;
};
