#include "vxcomm/vxkermit/filename.h"

#include <algorithm>

namespace vxcomm {

namespace vxkermit {

namespace {

// Longest extension, its dot included, that a cut keeps.
constexpr std::size_t kMaxExtension = 16;

// Where a cut of Text to at most Length bytes ends: before a UTF-8 character that would
// lose bytes to it, unless that leaves nothing. Bytes that do not form such a character
// are cut where they stand: a name is bytes, not necessarily UTF-8.
std::size_t CutPoint(const std::string& text, std::size_t length) {
  if (length >= text.size()) return text.size();
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continuation = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
  // The character's first byte lies at most three bytes before the cut.
  std::size_t first = length;
  while (first > 0 && length - first < 4 && continuation(first)) --first;
  if (first == length || first == 0 || continuation(first)) return length;
  const unsigned lead = byte(first);
  const std::size_t size = lead >= 0xF0 && lead < 0xF5   ? 4
                           : lead >= 0xE0 && lead < 0xF0 ? 3
                           : lead >= 0xC2 && lead < 0xE0 ? 2
                                                         : 1;
  return first + size > length ? first : length;
}

}  // namespace

std::string SentFileName(const std::string& path, std::size_t maxLength) {
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() <= maxLength) return name;
  const std::size_t dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > 0 &&
                            name.size() - dot <= kMaxExtension && name.size() - dot < maxLength;
  if (!hasExtension) return name.substr(0, CutPoint(name, maxLength));
  const std::string extension = name.substr(dot);
  const std::string stem = name.substr(0, dot);
  return stem.substr(0, CutPoint(stem, maxLength - extension.size())) + extension;
}

std::string ReceivedFileName(const std::string& sent) {
  std::string name = sent.substr(0, sent.find('\0'));
  const std::size_t sep = name.find_last_of("/\\");
  if (sep != std::string::npos) name = name.substr(sep + 1);
  if (name.empty() || name == "." || name == "..") return "unnamed";
  return name;
}

std::string LocalNameOfConverted(const std::string& name) {
  const auto has = [&](char low, char high) {
    return std::any_of(name.begin(), name.end(), [&](char c) { return c >= low && c <= high; });
  };
  if (has('a', 'z') || !has('A', 'Z')) return name;
  std::string local = name;
  for (char& c : local)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return local;
}

}  // namespace vxkermit

}  // namespace vxcomm
