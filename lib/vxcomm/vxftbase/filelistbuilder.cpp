#include "vxcomm/platform/filesearch.h"
#include "vxcomm/vxftbase.h"

namespace vxcomm {

namespace {

// Masks are separated by ',', ';' or line breaks; blanks around a mask are dropped.
std::vector<std::string> SplitMasks(const std::string& text) {
  std::vector<std::string> masks;
  std::string current;
  auto flush = [&] {
    std::size_t first = current.find_first_not_of(" \t");
    if (first != std::string::npos) {
      std::size_t last = current.find_last_not_of(" \t");
      masks.push_back(current.substr(first, last - first + 1));
    }
    current.clear();
  };
  for (char c : text) {
    if (c == ',' || c == ';' || c == '\r' || c == '\n')
      flush();
    else
      current += c;
  }
  flush();
  return masks;
}

}  // namespace

void TvxCustomFileTransfer::BuildFileList(const std::string& mask) {
  total_size_ = 0;
  file_list_.Clear();
  for (const std::string& one : SplitMasks(mask)) {
    std::string directory, pattern;
    vxSplitPath(one, directory, pattern);
    // A bare name is opened under DefaultPath, so it is searched there too.
    if (directory.empty()) directory = default_path_;
    for (const TvxFoundFile& found : vxFindFiles(directory, pattern)) {
      if (found.isDirectory) continue;
      file_list_.Add(directory + found.name, found.size);
      total_size_ += found.size;
    }
  }
}

}  // namespace vxcomm
