#include "vxcomm/vxcomm/enumdevices.h"

#include <algorithm>

#include "vxcomm/vxclasses/baseio.h"

namespace vxcomm {

namespace {

bool Matches(const TvxDevice& record, const std::string& name) {
  return vxSameText(record.PortName, name) ||
         record.Description.find("(" + name + ")") != std::string::npos;
}

// Copies what a listed device takes over from its database record.
void CopyRecord(TvxDevice& device, const TvxDevice& record, const std::string& name) {
  device.Service = record.Service;
  device.Description = record.Description;
  if (!device.Description.empty()) device.DisplayName = name + " (" + device.Description + ")";
  device.DriverKey = record.DriverKey;
  device.Manufacturer = record.Manufacturer;
  std::string portName = vxTrim(record.PortName);
  // A record found through its description alone carries no port name; keep the listed one
  // so that the port can still be opened by name.
  device.PortName = portName.empty() ? name : portName;
  device.RegistryKey = record.RegistryKey;
}

void Insert(TvxBaseIO& io, std::unique_ptr<TvxDevice> device) {
  if (io.InsertDevice(device.get()) >= 0) device.release();
}

std::string ListedValue(const TvxPortNameList& list, const std::string& name) {
  for (const TvxPortName& entry : list)
    if (vxSameText(entry.Name(), name)) return entry.Value();
  return {};
}

}  // namespace

void vxEnumSerialDevicesFrom(TvxBaseIO& io, TvxEnumPorts mode, TvxPortDatabase& database) {
  TvxDeviceRecords records;
  if (mode != epQuickAll) database.EnumClassDevices(mode == epFullPresent, records);

  TvxPortNameList list;
  ListSerialPorts(list, true, database.SerialCommValues());

  for (const TvxPortName& entry : list) {
    auto device = std::make_unique<TvxDevice>();
    std::string name = vxTrim(entry.Name());
    device->DisplayName = name;
    device->ListedName = name;
    device->DeviceObjectName = entry.Value();
    device->PortNumber = entry.Number;
    device->PortName = name;
    if (mode != epQuickAll) {
      auto match = std::find_if(records.begin(), records.end(),
                                [&](const auto& record) { return Matches(*record, name); });
      if (match != records.end()) {
        CopyRecord(*device, **match, name);
        records.erase(match);
      } else if (mode == epFullPresent) {
        continue;
      }
    }
    Insert(io, std::move(device));
  }

  if (mode == epQuickAll) return;
  int counter = 4096;
  for (const auto& record : records) {
    std::string portName = record->PortName.substr(0, record->PortName.find('\0'));
    if (portName.empty() || vxStartsWith(portName, "LPT")) continue;
    auto device = std::make_unique<TvxDevice>();
    device->DisplayName = portName;
    device->ListedName = portName;
    device->DeviceObjectName = ListedValue(list, portName);
    if (vxStartsWith(portName, "COM"))
      device->PortNumber = std::max(0, vxParsePortNumber(portName.substr(3)));
    else
      device->PortNumber = ++counter;
    CopyRecord(*device, *record, portName);
    Insert(io, std::move(device));
  }
}

}  // namespace vxcomm
