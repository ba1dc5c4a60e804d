#include "vxlogfile/entrytext.h"

std::string BuildEntryPrefix(TLogOptions options, const std::string& date, const std::string& time,
                             int msec) {
  std::string p;
  if (options.Contains(loDate)) p = date;
  if (options.Contains(loTime)) p += " " + time;
  if (options.Contains(loMSec)) {
    p += " +";
    p += static_cast<char>('0' + msec / 100 % 10);
    p += static_cast<char>('0' + msec / 10 % 10);
    p += static_cast<char>('0' + msec % 10);
  }
  if (p.empty()) return p;
  std::size_t first = p.find_first_not_of(' ');
  std::size_t last = p.find_last_not_of(' ');
  std::string trimmed =
      first == std::string::npos ? std::string() : p.substr(first, last - first + 1);
  return "[" + trimmed + "] ";
}

void AppendEscaped(std::string& out, const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.reserve(out.size() + text.size());
  for (char ch : text) {
    auto code = static_cast<unsigned char>(ch);
    if (code >= 32) {
      out += ch;
    } else {
      out += '\\';
      out += kHex[code >> 4];
      out += kHex[code & 15];
      out += 'h';
    }
  }
}
