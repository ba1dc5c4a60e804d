#include "display.h"

#include <cstdio>

std::string FormatStamp(std::int64_t msecs) {
  if (msecs < 0) msecs = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld",
                static_cast<long long>(msecs / 3600000 % 24),
                static_cast<long long>(msecs / 60000 % 60),
                static_cast<long long>(msecs / 1000 % 60), static_cast<long long>(msecs % 1000));
  return text;
}

std::string TDisplay::SetHex(bool on) {
  std::string out;
  if (hex_ && !on && row_ > 0) {
    out = "\r\n";
    line_start_ = true;
  }
  // The message that tells of the switch has begun a line.
  if (on && !hex_) line_start_ = true;
  row_ = 0;
  hex_ = on;
  return out;
}

bool TDisplay::Printing(unsigned char c) {
  switch (escape_) {
    case 1:  // after ESC: '[' opens a control sequence, anything else ends a short one
      escape_ = c == '[' ? 2 : 0;
      return false;
    case 2:  // in a control sequence, up to its final byte
      if (c >= 0x40 && c <= 0x7e) escape_ = 0;
      return false;
    default:
      if (c == 0x1b) escape_ = 1;
      return c >= 0x20 && c != 0x7f && c != 0x1b;
  }
}

std::string TDisplay::Render(const char* data, std::size_t len, const std::string& stamp) {
  if (!hex_ && !timestamps_) return std::string(data, len);
  std::string out;
  out.reserve(len * (hex_ ? 3 : 1) + 32);
  const std::string prefix = "[" + stamp + "] ";
  for (std::size_t i = 0; i < len; ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    if (!hex_ && !Printing(c)) {
      // The stamp goes before a line's first printed byte: a CR, or a terminal's control
      // sequence, at the start of a line would move the text over it.
      out += static_cast<char>(c);
      if (c == '\n') line_start_ = true;
      continue;
    }
    if (line_start_ && timestamps_) out += prefix;
    line_start_ = false;
    if (!hex_) {
      out += static_cast<char>(c);
      continue;
    }
    static const char digits[] = "0123456789ABCDEF";
    out += digits[c >> 4];
    out += digits[c & 15];
    if (++row_ == 16) {
      out += "\r\n";
      row_ = 0;
      line_start_ = true;
    } else {
      out += ' ';
    }
  }
  return out;
}

std::string LogText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out += ch;
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", c);
      out += code;
    }
  }
  return out;
}

bool TLineSplitter::Take(unsigned char c) {
  if (c == '\n') return true;
  if (c == '\r') return false;
  current_ += static_cast<char>(c);
  return current_.size() >= 4096;
}

std::string TLineSplitter::Rest() {
  std::string out;
  out.swap(current_);
  return out;
}
