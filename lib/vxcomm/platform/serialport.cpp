#include "vxcomm/platform/serialport.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "vxcomm/platform/netaddress.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/platform/serialfaults.h"
#include "vxcomm/platform/serialnet.h"
#include "vxcomm/platform/serialtty.h"

namespace vxcomm {

namespace {
struct Virtuals {
  std::mutex mutex;  // guards factories
  std::map<std::string, TvxSerialFactory> factories;
};

Virtuals& TheVirtuals() {
  static Virtuals virtuals;
  return virtuals;
}
}  // namespace

void vxRegisterSerialDevice(const std::string& name, TvxSerialFactory factory) {
  Virtuals& v = TheVirtuals();
  std::lock_guard lock(v.mutex);
  if (factory)
    v.factories[name] = std::move(factory);
  else
    v.factories.erase(name);
}

std::string vxSerialErrorText(int error, const std::string& path) {
  std::string text = std::strerror(error);
  if (error != EACCES && error != EPERM) return text;
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return text;
  // Joining the device's group helps only when that group may read and write it.
  if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[1024];
    const std::string owner =
        getpwuid_r(st.st_uid, &entry, buffer, sizeof buffer, &found) == 0 && found
            ? found->pw_name
            : std::to_string(st.st_uid);
    return text + " (no group may use the device: only its owner \"" + owner + "\" may open it)";
  }
  struct group entry;
  struct group* found = nullptr;
  char buffer[1024];
  std::string group = getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found
                          ? found->gr_name
                          : std::to_string(st.st_gid);
  return text + " (the device belongs to the group \"" + group +
         "\": add the user to that group and log in again)";
}

std::string vxSerialPath(const std::string& name) {
  if (vxIsNetPortName(name)) return name;
  {
    Virtuals& v = TheVirtuals();
    std::lock_guard lock(v.mutex);
    if (v.factories.count(name)) return name;
  }
  return vxResolvePortName(name);
}

TvxSerialOpen vxOpenSerialPort(const std::string& name) {
  const std::string path = vxSerialPath(name);
  TvxSerialOpen result;
  auto refuse = [&](int error) {
    result.error = {error, vxSerialErrorText(error, path)};
    return result;
  };
  if (path.empty()) return refuse(ENOENT);
  if (int fault = vxSerialFaults().openError.exchange(0)) return refuse(fault);
  // A network port's refusal names the host or what is wrong with the name.
  if (vxIsNetPortName(path)) return vxOpenNetDevice(path);
  TvxSerialFactory factory;
  {
    Virtuals& v = TheVirtuals();
    std::lock_guard lock(v.mutex);
    auto it = v.factories.find(path);
    if (it != v.factories.end()) factory = it->second;
  }
  result = factory ? factory() : vxOpenTtyDevice(path);
  if (result.device) return result;
  if (!result.error) return refuse(EIO);
  // Only a refusal that says more than the system's own text keeps its text.
  if (result.error.text == std::strerror(result.error.code)) return refuse(result.error.code);
  return result;
}

}  // namespace vxcomm
