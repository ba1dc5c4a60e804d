// The Linux layer is the floor of the library: nothing in lib/vxcomm/platform includes a header of
// the layers above it (the framework, the components, the enumeration). The one header from
// outside it may use is the generated export macro of the library.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace fs = std::filesystem;

TEST(PlatformLayer, IncludesOnlyItsOwnHeadersAndTheSystems) {
  const fs::path dir = fs::path(VXCOMM_SOURCE_DIR) / "lib" / "vxcomm" / "platform";
  ASSERT_TRUE(fs::is_directory(dir));
  const std::regex quoted(R"re(^\s*#\s*include\s*"([^"]+)")re");
  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".h" && ext != ".cpp") continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      std::smatch match;
      if (!std::regex_search(line, match, quoted) || match[1] == "vxcomm/vxcomm_export.h") continue;
      EXPECT_EQ(match[1].str().rfind("vxcomm/platform/", 0), 0u)
          << entry.path().filename().string() << ":" << number << " includes " << match[1];
    }
  }
  EXPECT_GT(files, 10);
}
