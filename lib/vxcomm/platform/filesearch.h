// Directory search with the wildcards '*' and '?' in the file-name part, and 64-bit sizes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vxcomm {

struct TvxFoundFile {
  std::string name;  // the entry's name, without its directory
  std::int64_t size = 0;
  bool isDirectory = false;
};

// Splits a path into its directory part (with the trailing '/', or empty) and its name.
void vxSplitPath(const std::string& path, std::string& directory, std::string& name);

// True when Name matches Pattern: '*' any run of bytes, '?' one byte, all else literal.
bool vxMatchWildcard(const std::string& pattern, const std::string& name);

// The entries of Directory (empty: the current directory) whose names match Pattern,
// sorted by name, "." and ".." left out. A directory that cannot be read gives no entries;
// an entry that vanishes while it is examined is left out.
std::vector<TvxFoundFile> vxFindFiles(const std::string& directory, const std::string& pattern);

}  // namespace vxcomm
