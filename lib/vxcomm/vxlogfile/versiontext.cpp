#include "vxcomm/vxlogfile/versiontext.h"

#include "vxcomm/platform/sysinfo.h"
#include "vxcomm/rtl/format.h"

namespace vxcomm {

std::string GetVersionText(const std::string& fileName, const std::string& fmt) {
  if (!fileName.empty()) {
    auto version = vxFileVersion(fileName);
    if (!version) return {};
    auto [a, b, c, d] = *version;
    return Format(fmt.empty() ? "%u.%u.%u.%u" : fmt, {a, b, c, d});
  }
  auto os = vxReadOsInfo();
  if (!os) return {};
  return os->kernelName + " " + os->prettyName + " [" + os->release + "] " + os->version;
}

}  // namespace vxcomm
