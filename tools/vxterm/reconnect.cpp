#include "reconnect.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "vxcomm/platform/netaddress.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

namespace {

std::string RealPath(const std::string& path) {
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) ? std::string(real) : std::string();
}

}  // namespace

std::string ResolveDeviceArgument(const std::string& arg) {
  if (arg.empty() || arg[0] == '/' || arg.find('/') != std::string::npos) return arg;
  if (!vxResolvePortName(arg).empty()) return arg;
  const std::string byId = "/dev/serial/by-id/" + arg;
  struct stat st;
  return ::stat(byId.c_str(), &st) == 0 ? byId : arg;
}

std::string StableDeviceName(const std::string& path, const std::string& byId) {
  if (path.compare(0, byId.size() + 1, byId + "/") == 0) return path;
  const std::string real = RealPath(path);
  if (real.empty()) return path;
  DIR* dir = ::opendir(byId.c_str());
  if (!dir) return path;
  std::string found;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (RealPath(byId + "/" + name) == real) {
      found = byId + "/" + name;
      break;
    }
  }
  ::closedir(dir);
  return found.empty() ? path : found;
}

TReconnector::TReconnector() {
  timer_.setInterval(250);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
}

TReconnector::~TReconnector() = default;

void TReconnector::Start(const std::string& name, std::function<bool()> open) {
  name_ = name;
  open_ = std::move(open);
  waiting_ = true;
  net_tried_.invalidate();
  subscription_ = vxSubscribePortChanges([this](const TvxDeviceChange&) {
    // Called from the monitor's notice: the opening runs after it, not inside it.
    QTimer::singleShot(0, &timer_, [this] { Look(); });
  });
  timer_.start();
}

void TReconnector::Stop() {
  waiting_ = false;
  timer_.stop();
  subscription_.reset();
}

void TReconnector::Look() {
  if (!waiting_) return;
  const std::string path = vxIsNetPortName(name_) ? name_ : vxResolvePortName(name_);
  if (vxIsNetPortName(path)) {
    // Nothing shows a port server coming back: every look connects, but not more often than
    // every NetRetryMs (a connect that is not refused at once waits its whole time-out).
    if (net_tried_.isValid() && net_tried_.elapsed() < NetRetryMs) return;
    net_tried_.start();
  } else if (path.empty() || ::access(path.c_str(), F_OK) != 0) {
    return;
  }
  if (open_()) Stop();
}
