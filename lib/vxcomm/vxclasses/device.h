/// @file
/// One device of an I/O component's device list, and the intermediate records that the
/// serial enumeration reads from the device database.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <array>
#include <cstdint>
#include <string>

#include "vxcomm/rtl/sysutils.h"

namespace vxcomm {

class TvxBaseIO;

/// One device of a device list: the names shown and used to open it, and what the device database
/// tells of it. Owned by the list while the owner's OwnsDevices is set.
class VXCOMM_EXPORT TvxDevice : public TPersistent {
 public:
  int Index = 0;                 ///< position in the owner's list; kept equal to it
  TvxBaseIO* Owner = nullptr;    ///< the component whose list holds the record
  int PortNumber = 0;            ///< COM number, or 4097 and up for other names
  std::string DisplayName;       ///< listed name, plus " (Description)" when known
  std::string DeviceObjectName;  ///< kernel device name of the port
  std::string ListedName;        ///< the port name as listed, e.g. COM3
  std::string SymbolicName;      ///< database records: the stable link of the device
  std::string RegistryKey;       ///< where the device's record lives in the database
  /// The device's description from the database.
  std::string Description;
  /// The driver service of the device.
  std::string Service;
  /// The database key of the device's driver.
  std::string DriverKey;
  /// The device's instance identifier.
  std::string InstanceId;
  std::string BusRelations;  ///< instance identifiers of the bus children, joined with ";"
  std::string PortName;      ///< name used to open the port and shown in messages
  /// The device's manufacturer.
  std::string Manufacturer;
  /// The device's node number in the database.
  std::uint32_t DevInst = 0;
  /// The identifier of the device's class.
  std::array<std::uint8_t, 16> ClassGuid{};
};

}  // namespace vxcomm
