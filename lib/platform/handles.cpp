#include "platform/handles.h"

#include <unistd.h>

void vxCloseHandle(std::intptr_t handle) {
  if (handle >= 0) ::close(static_cast<int>(handle));
}
