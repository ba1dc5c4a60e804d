#include "vxcomm/portenum.h"

#include "platform/portmap.h"
#include "vxclasses/baseio.h"

// Interim: the mapped ports only, until the system's name list and device database are read.
void vxEnumSerialDevices(TvxBaseIO& io, TvxEnumPorts) {
  for (const auto& [number, path] : vxReadPortMap()) {
    auto* device = new TvxDevice;
    device->PortNumber = number;
    device->ListedName = "COM" + std::to_string(number);
    device->DisplayName = device->ListedName;
    device->PortName = device->ListedName;
    device->DeviceObjectName = path;
    if (io.InsertDevice(device) < 0) delete device;
  }
}
