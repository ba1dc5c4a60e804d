#include "vxcomm/vxcomm/portdatabase.h"

#include <sys/stat.h>

#include <map>

#include "vxcomm/platform/netaddress.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/platform/sysfsports.h"
#include "vxcomm/platform/udevports.h"

namespace vxcomm {

namespace {

// ttyS<n> is COM<n+1>; other kernel ports have no COM number of their own.
std::string ComNameOf(const std::string& kernelName) {
  if (!vxStartsWith(kernelName, "ttyS")) return {};
  int n = vxParsePortNumber(kernelName.substr(4));
  return n < 0 ? std::string() : "COM" + std::to_string(n + 1);
}

// A mapped network port ("rfc2217://HOST:PORT") counts as present: whether its server
// answers is known only when it is opened.
bool DeviceExists(const std::string& path) {
  if (vxIsNetPortName(path)) return true;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

std::unique_ptr<TvxDevice> KernelRecord(const TvxKernelPort& port) {
  auto record = std::make_unique<TvxDevice>();
  std::string com = ComNameOf(port.Name);
  record->PortName = com.empty() ? port.Name : com;
  record->DeviceObjectName = port.DevNode;
  record->Service = port.Driver;
  record->RegistryKey = port.SysPath;
  record->DriverKey = port.Driver + "\\" + port.Name;
  TvxUdevPortInfo udev = vxUdevPortInfo(port.SysPath);
  record->Description = udev.Description;
  record->Manufacturer = udev.Manufacturer;
  record->SymbolicName = udev.SymbolicName;
  record->InstanceId = udev.InstanceId;
  record->BusRelations =
      JoinMultiString(udev.BusRelations.data(), static_cast<int>(udev.BusRelations.size()), ";");
  if (!udev.Driver.empty()) record->Service = udev.Driver;
  // Standard UARTs have no model name anywhere; say what they are.
  if (record->Description.empty() && !com.empty()) record->Description = "Communications Port";
  return record;
}

}  // namespace

TvxSystemPortDatabase::TvxSystemPortDatabase(std::string classDir, std::string devDir)
    : class_dir_(std::move(classDir)), dev_dir_(std::move(devDir)) {}

std::vector<TvxSerialCommValue> TvxSystemPortDatabase::SerialCommValues() {
  std::vector<TvxSerialCommValue> values;
  for (const auto& [number, path] : vxReadPortMap())
    values.push_back({path, "COM" + std::to_string(number)});
  for (const TvxKernelPort& port : vxListKernelPorts(class_dir_, dev_dir_)) {
    std::string com = ComNameOf(port.Name);
    if (!com.empty()) values.push_back({port.DevNode, com});
  }
  return values;
}

void TvxSystemPortDatabase::EnumClassDevices(bool presentOnly, TvxDeviceRecords& records) {
  for (const auto& [number, path] : vxReadPortMap()) {
    if (presentOnly && !DeviceExists(path)) continue;
    auto record = std::make_unique<TvxDevice>();
    record->PortName = "COM" + std::to_string(number);
    record->DeviceObjectName = path;
    record->Description = "mapped to " + path;
    record->DriverKey = "portmap\\" + record->PortName;
    records.push_back(std::move(record));
  }
  for (const TvxKernelPort& port : vxListKernelPorts(class_dir_, dev_dir_))
    if (port.Present || !presentOnly) records.push_back(KernelRecord(port));
}

}  // namespace vxcomm
