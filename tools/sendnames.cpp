#include "sendnames.h"

std::string UnsendableMask(TvxCustomFileTransfer& transfer, const std::string& mask) {
  if (mask.find_first_of("\r\n") != std::string::npos) return "a name with a line break";
  if (mask.find_first_not_of(" \t") == std::string::npos) return "a name of blanks only";
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  if (blank(mask.front()) || blank(mask.back())) return "a name that begins or ends with a blank";
  transfer.BuildFileList(mask);
  return transfer.FileList().Empty() ? "no such file" : std::string();
}

std::string QuotedName(const std::string& name) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (byte < 32) {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}
