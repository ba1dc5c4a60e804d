#include "vxcomm/vxlogfile/entrytext.h"

#include <algorithm>

namespace vxcomm {

std::string BuildEntryPrefix(TLogOptions options, const std::string& date,
                             const std::string& time) {
  std::string p;
  if (options.Contains(loDate)) p = date;
  if (options.Contains(loTime)) p += " " + time;
  if (options.Contains(loMSec)) p += " +000";
  if (p.empty()) return p;
  std::size_t first = p.find_first_not_of(' ');
  std::size_t last = p.find_last_not_of(' ');
  std::string trimmed =
      first == std::string::npos ? std::string() : p.substr(first, last - first + 1);
  return "[" + trimmed + "] ";
}

void AppendEscaped(std::string& out, const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  auto control = [](char ch) { return static_cast<unsigned char>(ch) < 32; };
  // Runs without control characters, the usual case, are copied whole.
  auto run = text.begin();
  while (run != text.end()) {
    auto stop = std::find_if(run, text.end(), control);
    out.append(run, stop);
    if (stop == text.end()) break;
    auto code = static_cast<unsigned char>(*stop);
    const char escape[] = {'\\', kHex[code >> 4], kHex[code & 15], 'h'};
    out.append(escape, sizeof escape);
    run = stop + 1;
  }
}

}  // namespace vxcomm
