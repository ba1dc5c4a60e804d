#include "vxkermit/filename.h"

namespace vxkermit {

std::string SentFileName(const std::string& path, std::size_t maxLength) {
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.substr(0, maxLength);
}

std::string ReceivedFileName(const std::string& sent) {
  std::string name = sent.substr(0, sent.find('\0'));
  const std::size_t sep = name.find_last_of("/\\");
  if (sep != std::string::npos) name = name.substr(sep + 1);
  if (name.empty() || name == "." || name == "..") return "unnamed";
  return name;
}

}  // namespace vxkermit
