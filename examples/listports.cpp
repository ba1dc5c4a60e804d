// Lists the serial ports found: the name to open each by, one a line.
//   example_listports
#include <cstdio>

#include "vxcomm/vxcomm.h"

int main() {
  vxcomm::TvxComm port;
  port.EnumDevices();
  for (int i = 0; i < port.DeviceCount(); ++i)
    std::printf("%s\n", port.GetDevice(i)->PortName.c_str());
}
