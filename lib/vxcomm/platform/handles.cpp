#include "vxcomm/platform/handles.h"

#include <unistd.h>

namespace vxcomm {

void vxCloseHandle(std::intptr_t handle) {
  if (handle >= 0) ::close(static_cast<int>(handle));
}

}  // namespace vxcomm
