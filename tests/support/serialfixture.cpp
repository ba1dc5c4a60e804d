#include "support/serialfixture.h"

#include <cstdlib>

#include "support/ptypair.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/unqualified.h"

void UsePrivateConfigStore() {
  static bool done = false;
  if (done) return;
  done = true;
  setenv("XDG_CONFIG_HOME", MakeTempDir("serial-store").c_str(), 1);
}

int MapPort(int number, const std::string& path) {
  UsePrivateConfigStore();
  vxWritePortMapping(number, path);
  return number;
}

std::string OpenErrorOf(TvxComm& comm) {
  try {
    comm.SetActive(true);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no exception)";
}
