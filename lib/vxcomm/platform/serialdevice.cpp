#include "vxcomm/platform/serialdevice.h"

#include "vxcomm/platform/serialfaults.h"

namespace vxcomm {

TvxLineReport TvxSerialDevice::Look(void* buffer, std::uint32_t size) {
  if (int fault = vxSerialFaults().lookError.exchange(0)) {
    TvxLineReport report;
    report.failure = vxSerialError(fault);
    return report;
  }
  return DoLook(buffer, size);
}

TvxSerialError TvxSerialDevice::Write(const void* buffer, std::uint32_t len, bool wait) {
  if (int fault = vxSerialFaults().writeError.exchange(0)) return vxSerialError(fault);
  return DoWrite(buffer, len, wait);
}

}  // namespace vxcomm
