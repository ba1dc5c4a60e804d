#include "keys.h"

#include <cctype>
#include <cstdio>

bool ParseEscapeKey(const std::string& text, unsigned char& key) {
  std::string name;
  if (text.size() == 2 && text[0] == '^')
    name = text.substr(1);
  else if (text.size() == 6 &&
           (text.compare(0, 5, "ctrl-") == 0 || text.compare(0, 5, "Ctrl-") == 0))
    name = text.substr(5);
  if (name.size() == 1) {
    const unsigned char c =
        static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(name[0])));
    if (c == '?') {
      key = 0x7f;
      return true;
    }
    if (c >= '@' && c <= '_') {
      key = static_cast<unsigned char>(c - '@');
      return true;
    }
    return false;
  }
  if (text.size() >= 3 && text.size() <= 4 && text[0] == '0' &&
      (text[1] == 'x' || text[1] == 'X')) {
    unsigned value = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
      if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
      value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(text[i]))
                                                     ? text[i] - '0'
                                                     : std::tolower(text[i]) - 'a' + 10);
    }
    // A printable key would be taken from every line the user types.
    if (value >= 0x20 && value < 0x7f) return false;
    key = static_cast<unsigned char>(value);
    return true;
  }
  return false;
}

std::string EscapeKeyName(unsigned char key) {
  if (key < 0x20) return std::string("Ctrl-") + static_cast<char>(key + '@');
  if (key == 0x7f) return "Ctrl-?";
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", key);
  return text;
}

bool TPromptLine::InSequence(unsigned char ch) {
  switch (sequence_) {
    case None:
      return false;
    case AfterEscape:
      sequence_ = ch == '[' ? Csi : ch == 'O' ? Ss3 : None;
      // A control byte after ESC is a key of its own (the Escape key, then that key).
      return ch >= 0x20;
    case Csi:
      // Parameters and intermediates up to the final byte; a control byte ends it early.
      if (ch < 0x20) {
        sequence_ = None;
        return false;
      }
      if (ch >= 0x40) sequence_ = None;
      return true;
    case Ss3:
      sequence_ = None;
      return ch >= 0x20;
  }
  return false;
}

TPromptLine::TResult TPromptLine::EndOfKeys() {
  if (sequence_ != AfterEscape) return Editing;
  sequence_ = None;
  return Cancel;
}

TPromptLine::TResult TPromptLine::Feed(unsigned char ch) {
  const bool afterEscape = sequence_ == AfterEscape;
  if (InSequence(ch)) return Editing;
  // The ESC before was the Escape key, and Ch was typed after it.
  if (afterEscape) return CancelThenKey;
  if (ch == escape_ && text_.empty()) return SendKey;
  if (ch == 0x1b) {
    sequence_ = AfterEscape;
    return Editing;
  }
  if (ch == '\r' || ch == '\n') return Execute;
  if (ch == 0x03) return Cancel;
  if (ch == 0x7f || ch == 0x08) {
    // A character of several UTF-8 bytes goes back whole.
    while (!text_.empty() && (static_cast<unsigned char>(text_.back()) & 0xC0) == 0x80)
      text_.pop_back();
    if (!text_.empty()) text_.pop_back();
    return Editing;
  }
  if (ch == 0x15) {
    text_.clear();
    return Editing;
  }
  if (ch >= 0x20 && text_.size() < kMaxLength) text_ += static_cast<char>(ch);
  return Editing;
}
