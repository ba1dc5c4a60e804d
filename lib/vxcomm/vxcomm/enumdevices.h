// Fills a serial component's device list from the system's serial name list and its device
// database, by the matching, ordering and numbering rules of the enumeration. The sources
// are an interface so that tests hand in fixtures; the Linux one is in lib/platform/.
//
// Thread: runs on the caller's thread (the component's); the sources are used there only.
#pragma once

#include <memory>
#include <vector>

#include "vxcomm/vxclasses/device.h"
#include "vxcomm/vxcomm/enumnames.h"
#include "vxcomm/vxcomm/portenum.h"

namespace vxcomm {

using TvxDeviceRecords = std::vector<std::unique_ptr<TvxDevice>>;

class TvxPortDatabase {
 public:
  virtual ~TvxPortDatabase() = default;
  // The serial-port map: every kernel device with its port name, in the system's order.
  virtual std::vector<TvxSerialCommValue> SerialCommValues() = 0;
  // Appends the database's records of serial devices; only those present now when asked.
  virtual void EnumClassDevices(bool presentOnly, TvxDeviceRecords& records) = 0;
};

// The enumeration over Database into IO's list (which is not cleared first).
void vxEnumSerialDevicesFrom(TvxBaseIO& io, TvxEnumPorts mode, TvxPortDatabase& database);

}  // namespace vxcomm
