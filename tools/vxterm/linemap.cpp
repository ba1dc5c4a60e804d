#include "linemap.h"

namespace {

enum : unsigned {
  kCrLf = 1,
  kCrCrLf = 2,
  kIgnCr = 4,
  kLfCr = 8,
  kLfCrLf = 16,
  kIgnLf = 32,
  kBsDel = 64,
  kDelBs = 128
};

struct TMapName {
  const char* name;
  unsigned flag;
};

constexpr TMapName kNames[] = {{"crlf", kCrLf},   {"crcrlf", kCrCrLf}, {"igncr", kIgnCr},
                               {"lfcr", kLfCr},   {"lfcrlf", kLfCrLf}, {"ignlf", kIgnLf},
                               {"bsdel", kBsDel}, {"delbs", kDelBs}};

// What a line-end byte becomes under the three mappings of its kind.
void MapEnd(std::string& out, char c, unsigned flags, unsigned ign, unsigned single, char singleTo,
            unsigned pair) {
  if (flags & ign) return;
  if (flags & single)
    out += singleTo;
  else if (flags & pair)
    out += "\r\n";
  else
    out += c;
}

}  // namespace

bool TLineMap::Add(const std::string& list, std::string& bad) {
  unsigned flags = flags_;
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    const std::string word = list.substr(at, end - at);
    at = end + 1;
    unsigned flag = 0;
    for (const TMapName& n : kNames)
      if (word == n.name) flag = n.flag;
    if (flag == 0) {
      bad = word.empty() ? std::string("an empty name") : word;
      return false;
    }
    flags |= flag;
  }
  flags_ = flags;
  return true;
}

std::string TLineMap::Apply(const std::string& data) const {
  if (flags_ == 0) return data;
  std::string out;
  out.reserve(data.size() + data.size() / 8);
  for (const char c : data) {
    if (c == '\r')
      MapEnd(out, c, flags_, kIgnCr, kCrLf, '\n', kCrCrLf);
    else if (c == '\n')
      MapEnd(out, c, flags_, kIgnLf, kLfCr, '\r', kLfCrLf);
    else if (c == '\b' && (flags_ & kBsDel))
      out += '\x7f';
    else if (c == '\x7f' && (flags_ & kDelBs))
      out += '\b';
    else
      out += c;
  }
  return out;
}

std::string TLineMap::Names() const {
  std::string names;
  for (const TMapName& n : kNames) {
    if (!(flags_ & n.flag)) continue;
    if (!names.empty()) names += ',';
    names += n.name;
  }
  return names.empty() ? "none" : names;
}
