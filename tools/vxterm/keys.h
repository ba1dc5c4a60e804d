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
//
// A key that sends a sequence (an arrow: ESC [ D; a function key: ESC O P; Alt with a key:
// ESC and the key) is taken whole and ignored: an ESC is a key of its own only when nothing
// follows it, which the caller tells through EndOfKeys.
class TPromptLine {
 public:
  static constexpr std::size_t kMaxLength = 4096;
  // CancelThenKey: the prompt is abandoned and the byte given is a key for the terminal.
  enum TResult { Editing, Execute, Cancel, CancelThenKey, SendKey };
  explicit TPromptLine(unsigned char escape) : escape_(escape) {}
  // Takes one typed byte.
  TResult Feed(unsigned char ch);
  // True after an ESC that may still open a sequence.
  bool EscapePending() const { return sequence_ == AfterEscape; }
  // Nothing more was typed: an ESC waiting for its sequence was the Escape key (Cancel).
  TResult EndOfKeys();
  const std::string& Text() const { return text_; }
  void Clear() {
    text_.clear();
    sequence_ = None;
  }

 private:
  enum TSequence { None, AfterEscape, Csi, Ss3 };
  // Takes Ch as part of a key sequence; false when it is a key of its own.
  bool InSequence(unsigned char ch);

  unsigned char escape_;
  std::string text_;
  TSequence sequence_ = None;
};
