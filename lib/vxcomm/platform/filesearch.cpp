#include "vxcomm/platform/filesearch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace vxcomm {

void vxSplitPath(const std::string& path, std::string& directory, std::string& name) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    directory.clear();
    name = path;
  } else {
    directory = path.substr(0, slash + 1);
    name = path.substr(slash + 1);
  }
}

bool vxMatchWildcard(const std::string& pattern, const std::string& name) {
  // Greedy match with one backtrack point: linear in practice, never recursive.
  std::size_t p = 0, n = 0, star = std::string::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<TvxFoundFile> vxFindFiles(const std::string& directory, const std::string& pattern) {
  std::vector<TvxFoundFile> found;
  const std::string dirPath = directory.empty() ? std::string("./") : directory;
  DIR* dir = opendir(dirPath.c_str());
  if (!dir) return found;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || !vxMatchWildcard(pattern, name)) continue;
    struct stat st {};
    if (fstatat(dirfd(dir), entry->d_name, &st, 0) != 0) continue;
    found.push_back({name, static_cast<std::int64_t>(st.st_size), S_ISDIR(st.st_mode)});
  }
  closedir(dir);
  std::sort(found.begin(), found.end(),
            [](const TvxFoundFile& a, const TvxFoundFile& b) { return a.name < b.name; });
  return found;
}

}  // namespace vxcomm
