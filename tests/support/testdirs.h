// Directories of a test process: the build's scratch directory and a configuration store
// of the test's own.
#pragma once

#include <string>

// VXCOMM_TEST_TMP (set by CTest), else /tmp.
std::string TestTmp();

// Points this process's configuration store (XDG_CONFIG_HOME) at an empty directory named
// after Test under TestTmp, and returns it. Call before Qt first reads the store's location.
std::string UsePrivateConfigHome(const std::string& test);
