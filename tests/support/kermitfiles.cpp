#include "support/kermitfiles.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace kermitfiles {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

std::string EveryByte(int repeat) {
  std::string s;
  for (int r = 0; r < repeat; ++r)
    for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
  return s;
}

std::string Text() {
  std::string s;
  for (int i = 0; i < 200; ++i)
    s += "Line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog #~&\r\n";
  return s;
}

std::vector<std::string> WriteStandardSet(const std::string& dir, std::size_t randomSize) {
  WriteAll(dir + "/empty.dat", "");
  WriteAll(dir + "/text.txt", Text());
  WriteAll(dir + "/allbytes.bin", EveryByte());
  WriteAll(dir + "/random.bin", RandomBytes(randomSize, 42));
  return {"empty.dat", "text.txt", "allbytes.bin", "random.bin"};
}

std::vector<std::string> PathsIn(const std::string& dir, const std::vector<std::string>& names) {
  std::vector<std::string> paths;
  for (const auto& n : names) paths.push_back(dir + "/" + n);
  return paths;
}

std::vector<std::string> EntriesOf(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kermitfiles
