#include "vxcomm/platform/udevports.h"

#include "vxcomm/platform/udevlib.h"

namespace vxcomm {

namespace {

// Without control characters and blanks at either end.
std::string Trimmed(const std::string& s) {
  std::size_t first = 0, last = s.size();
  while (first < last && static_cast<unsigned char>(s[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ') --last;
  return s.substr(first, last - first);
}

// udev's *_ENC values escape bytes as \xNN; the plain values have '_' for blanks.
std::string Unescape(const char* encoded) {
  std::string out;
  for (const char* p = encoded; *p; ++p) {
    if (p[0] == '\\' && p[1] == 'x' && p[2] && p[3]) {
      out += static_cast<char>(std::stoi(std::string(p + 2, 2), nullptr, 16));
      p += 3;
    } else {
      out += *p;
    }
  }
  return Trimmed(out);
}

class Context {
 public:
  explicit Context(const TvxUdevApi& api) : api_(api), udev_(api.new_()) {}
  ~Context() {
    if (udev_) api_.unref(udev_);
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  udev* get() const { return udev_; }

 private:
  const TvxUdevApi& api_;
  udev* udev_;
};

// Property Name of Device, or of its nearest ancestor that has it.
std::string Property(const TvxUdevApi& api, udev_device* device, const char* name) {
  for (udev_device* d = device; d; d = api.device_get_parent(d))
    if (const char* value = api.device_get_property_value(d, name)) return value;
  return {};
}

std::string Named(const TvxUdevApi& api, udev_device* device, const char* fromDatabase,
                  const char* encoded, const char* raw) {
  std::string name = Property(api, device, fromDatabase);
  if (!name.empty()) return name;
  name = Property(api, device, encoded);
  if (!name.empty()) return Unescape(name.c_str());
  name = Property(api, device, raw);
  for (char& c : name)
    if (c == '_') c = ' ';
  return name;
}

// Without a running udev daemon the device carries no database names; the hardware
// database itself still knows them by the hardware's modalias.
void FromHardwareDatabase(const TvxUdevApi& api, udev* context, udev_device* device,
                          TvxUdevPortInfo& info) {
  std::string modalias;
  for (udev_device* d = device; d && modalias.empty(); d = api.device_get_parent(d))
    if (const char* value = api.device_get_sysattr_value(d, "modalias")) modalias = value;
  if (modalias.empty()) return;
  udev_hwdb* hwdb = api.hwdb_new(context);
  if (!hwdb) return;
  for (udev_list_entry* e = api.hwdb_get_properties_list_entry(hwdb, modalias.c_str(), 0); e;
       e = api.list_entry_get_next(e)) {
    std::string key = api.list_entry_get_name(e);
    const char* value = api.list_entry_get_value(e);
    if (!value) continue;
    if (key == "ID_MODEL_FROM_DATABASE") info.Description = value;
    if (key == "ID_VENDOR_FROM_DATABASE") info.Manufacturer = value;
  }
  api.hwdb_unref(hwdb);
}

std::string ByIdLink(const TvxUdevApi& api, udev_device* device) {
  for (udev_list_entry* e = api.device_get_devlinks_list_entry(device); e;
       e = api.list_entry_get_next(e)) {
    std::string link = api.list_entry_get_name(e);
    if (link.rfind("/dev/serial/by-id/", 0) == 0) return link;
  }
  return {};
}

std::string Children(const TvxUdevApi& api, udev* context, udev_device* hardware) {
  udev_enumerate* children = api.enumerate_new(context);
  if (!children) return {};
  std::string joined;
  if (api.enumerate_add_match_parent(children, hardware) >= 0 &&
      api.enumerate_scan_devices(children) >= 0) {
    // NUL-separated, so that the enumeration joins it by its one rule.
    std::string self = api.device_get_syspath(hardware);
    for (udev_list_entry* e = api.enumerate_get_list_entry(children); e;
         e = api.list_entry_get_next(e)) {
      std::string path = api.list_entry_get_name(e);
      if (path != self) joined += path + '\0';
    }
    joined += '\0';
  }
  api.enumerate_unref(children);
  return joined;
}

}  // namespace

TvxUdevPortInfo vxUdevPortInfo(const std::string& sysPath) {
  TvxUdevPortInfo info;
  const TvxUdevApi* api = vxLoadUdev();
  if (!api) return info;
  Context context(*api);
  if (!context.get()) return info;
  udev_device* tty = api->device_new_from_syspath(context.get(), sysPath.c_str());
  if (!tty) return info;
  info.Known = true;
  info.Description = Named(*api, tty, "ID_MODEL_FROM_DATABASE", "ID_MODEL_ENC", "ID_MODEL");
  info.Manufacturer = Named(*api, tty, "ID_VENDOR_FROM_DATABASE", "ID_VENDOR_ENC", "ID_VENDOR");
  if (info.Description.empty() || info.Manufacturer.empty()) {
    TvxUdevPortInfo db;
    FromHardwareDatabase(*api, context.get(), tty, db);
    if (info.Description.empty()) info.Description = db.Description;
    if (info.Manufacturer.empty()) info.Manufacturer = db.Manufacturer;
  }
  info.SymbolicName = ByIdLink(*api, tty);
  // The hardware is the first ancestor past the serial core's own "port" and "ctrl" devices.
  udev_device* hardware = api->device_get_parent(tty);
  auto subsystemOf = [&](udev_device* d) {
    const char* subsystem = api->device_get_subsystem(d);
    return std::string(subsystem ? subsystem : "");
  };
  while (hardware && subsystemOf(hardware) == "serial-base")
    hardware = api->device_get_parent(hardware);
  if (hardware) {
    for (udev_device* d = hardware; d && info.Driver.empty(); d = api->device_get_parent(d))
      if (const char* driver = api->device_get_driver(d)) info.Driver = driver;
    if (const char* devpath = api->device_get_devpath(hardware)) info.InstanceId = devpath;
    info.BusRelations = Children(*api, context.get(), hardware);
  }
  api->device_unref(tty);
  return info;
}

}  // namespace vxcomm
