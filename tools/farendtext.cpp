#include "farendtext.h"

#include <cstdio>
#include <vector>

namespace {

constexpr char kMark = 0x01;

// The most of one line shown: its end, where a prompt or a message stands.
constexpr std::size_t kLineShown = 120;

std::string Trim(const std::string& s) {
  const std::size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  const std::string t = s.substr(begin, s.find_last_not_of(" \t") - begin + 1);
  return t.size() > kLineShown ? "..." + t.substr(t.size() - kLineShown) : t;
}

}  // namespace

void TFarEndText::Feed(const char* data, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) {
    const auto b = static_cast<unsigned char>(data[i]);
    if (b == kMark) {
      in_packet_ = true;
      continue;
    }
    if (in_packet_) {
      // Any control character but MARK ends a packet.
      if (b < 32) in_packet_ = false;
      continue;
    }
    text_ += static_cast<char>(b);
  }
  if (text_.size() > kKeep) text_.erase(0, text_.size() - kKeep);
}

void TFarEndText::Clear() {
  text_.clear();
  in_packet_ = false;
}

std::string TFarEndText::LastLines(int lines) const {
  std::vector<std::string> found;
  std::string line;
  auto flush = [&] {
    const std::string t = Trim(line);
    if (!t.empty()) found.push_back(t);
    line.clear();
  };
  for (char c : text_) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\r' || b == '\n') {
      flush();
    } else if (b == '\t' || (b >= 32 && b < 127)) {
      line += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      line += hex;
    }
  }
  flush();
  std::string out;
  const std::size_t first = found.size() > static_cast<std::size_t>(lines)
                                ? found.size() - static_cast<std::size_t>(lines)
                                : 0;
  for (std::size_t i = first; i < found.size(); ++i) out += (out.empty() ? "" : " | ") + found[i];
  return out;
}
