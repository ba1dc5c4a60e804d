#include "vxcomm/platform/sysfsports.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace vxcomm {

namespace fs = std::filesystem;

namespace {

// The driver of the device behind a tty. Newer kernels put the "port" and "ctrl" devices of
// the serial core's own bus between the tty and the hardware; an ancestor has the driver.
std::string DriverOf(const fs::path& ttyDir) {
  std::error_code ec;
  fs::path device = fs::canonical(ttyDir / "device", ec);
  for (int depth = 0; !ec && depth < 4 && device.has_relative_path(); ++depth) {
    fs::path driver = fs::read_symlink(device / "driver", ec);
    if (!ec && driver.string().find("/serial-base/") == std::string::npos)
      return driver.filename().string();
    ec.clear();
    device = device.parent_path();
  }
  return {};
}

// The UART type the serial core reports in sysfs; 0 (PORT_UNKNOWN) when no UART is there.
// Only 8250 ports are asked through the device when sysfs does not tell: opening a USB
// adapter would raise its DTR line and may reset what hangs on it. -1: not known.
int UartType(const fs::path& ttyDir, const std::string& devNode, const std::string& driver) {
  std::ifstream in(ttyDir / "type");
  int type = -1;
  if (in >> type) return type;
  if (driver != "serial8250") return -1;
  int fd = ::open(devNode.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  serial_struct info{};
  if (::ioctl(fd, TIOCGSERIAL, &info) == 0) type = info.type;
  ::close(fd);
  return type;
}

// Orders ttyS2 before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    std::string digits = s.substr(i);
    return std::make_pair(s.substr(0, i), digits.empty() ? -1L : std::stol(digits.substr(0, 9)));
  };
  return split(a) < split(b);
}

}  // namespace

std::vector<TvxKernelPort> vxListKernelPorts(const std::string& classDir,
                                             const std::string& devDir) {
  std::vector<TvxKernelPort> ports;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(classDir, ec)) {
    const fs::path dir = entry.path();
    if (!fs::exists(dir / "device", ec)) continue;  // virtual consoles, pty masters
    TvxKernelPort port;
    port.Name = dir.filename().string();
    port.DevNode = (fs::path(devDir) / port.Name).string();
    port.SysPath = fs::canonical(dir, ec).string();
    if (ec) port.SysPath = dir.string();
    port.Driver = DriverOf(dir);
    port.Present = UartType(dir, port.DevNode, port.Driver) != 0;
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(), [](const TvxKernelPort& a, const TvxKernelPort& b) {
    return NaturalLess(a.Name, b.Name);
  });
  return ports;
}

}  // namespace vxcomm
