#include "support/testdirs.h"

#include <cstdlib>
#include <filesystem>

std::string TestTmp() {
  const char* tmp = std::getenv("VXCOMM_TEST_TMP");
  return tmp ? tmp : "/tmp";
}

std::string UsePrivateConfigHome(const std::string& test) {
  const std::string dir = TestTmp() + "/" + test + "-config";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  return dir;
}
