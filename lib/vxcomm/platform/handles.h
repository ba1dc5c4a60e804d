// Closing an operating-system handle (a file descriptor) for the layers above.
#pragma once

#include <cstdint>

namespace vxcomm {

// Closes Handle when it is a valid descriptor; -1 is ignored.
void vxCloseHandle(std::intptr_t handle);

}  // namespace vxcomm
