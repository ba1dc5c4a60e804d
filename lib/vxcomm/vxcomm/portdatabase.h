// The system's serial name list and device database on Linux.
//
// Name list: the kernel's ttyS ports as COM1 and up (ttyS0 is COM1), then the ports mapped
// in the configuration store, which win over a kernel port of the same number.
// Database: one record per mapped port whose device exists, then one per kernel serial port
// (COM name for ttyS ports, the kernel name otherwise), with udev's details where udev is
// there. ttyS placeholders without a UART are records that are not present.
// Thread: the caller's.
#pragma once

#include <string>

#include "vxcomm/vxcomm/enumdevices.h"

namespace vxcomm {

class TvxSystemPortDatabase : public TvxPortDatabase {
 public:
  // The sysfs class directory and the device directory to read; tests point them elsewhere.
  explicit TvxSystemPortDatabase(std::string classDir = "/sys/class/tty",
                                 std::string devDir = "/dev");
  std::vector<TvxSerialCommValue> SerialCommValues() override;
  void EnumClassDevices(bool presentOnly, TvxDeviceRecords& records) override;

 private:
  std::string class_dir_;
  std::string dev_dir_;
};

}  // namespace vxcomm
