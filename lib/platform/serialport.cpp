#include "platform/serialport.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/portmap.h"
#include "platform/serialtty.h"

namespace {
thread_local int last_error = 0;

struct Registry {
  std::mutex mutex;  // guards everything below
  std::map<std::string, TvxSerialFactory> virtuals;
  std::map<THandle, std::shared_ptr<TvxSerialDevice>> open;
  THandle next = 1;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool Fail(int error) {
  last_error = error;
  return false;
}

// Runs Op on the device behind Handle; false with the error kept when it fails.
template <typename Op>
bool WithDevice(THandle handle, Op op) {
  std::shared_ptr<TvxSerialDevice> device = vxSerialDevice(handle);
  if (!device) return false;
  int error = op(*device);
  return error == 0 || Fail(error);
}

int TakeFault(std::atomic<int>& fault) {
  return fault.exchange(0);
}
}  // namespace

void vxRegisterSerialDevice(const std::string& name, TvxSerialFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  if (factory)
    r.virtuals[name] = std::move(factory);
  else
    r.virtuals.erase(name);
}

TvxSerialFaults& vxSerialFaults() {
  static TvxSerialFaults faults;
  return faults;
}

int vxSerialLastError() {
  return last_error;
}

std::string vxSerialErrorText(int error, const std::string& path) {
  std::string text = std::strerror(error);
  if (error != EACCES && error != EPERM) return text;
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return text;
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
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    if (r.virtuals.count(name)) return name;
  }
  return vxResolvePortName(name);
}

THandle vxSerialOpen(const std::string& name) {
  std::string path = vxSerialPath(name);
  if (path.empty()) {
    Fail(ENOENT);
    return INVALID_HANDLE_VALUE;
  }
  if (int fault = TakeFault(vxSerialFaults().openError)) {
    Fail(fault);
    return INVALID_HANDLE_VALUE;
  }
  TvxSerialFactory factory;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.virtuals.find(path);
    if (it != r.virtuals.end()) factory = it->second;
  }
  int error = 0;
  std::shared_ptr<TvxSerialDevice> device = factory ? factory(error) : vxOpenTtyDevice(path, error);
  if (!device) {
    Fail(error ? error : EIO);
    return INVALID_HANDLE_VALUE;
  }
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  THandle handle = r.next++;
  r.open[handle] = std::move(device);
  return handle;
}

void vxSerialClose(THandle handle) {
  std::shared_ptr<TvxSerialDevice> device;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.open.find(handle);
    if (it == r.open.end()) return;
    device = std::move(it->second);
    r.open.erase(it);
  }
  // Threads still inside a call keep the object alive; Close releases them.
  device->Close();
}

std::shared_ptr<TvxSerialDevice> vxSerialDevice(THandle handle) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto it = r.open.find(handle);
  if (it != r.open.end()) return it->second;
  last_error = EBADF;
  return nullptr;
}

bool vxSetCommState(THandle h, const TDCB& dcb) {
  return WithDevice(h, [&](TvxSerialDevice& d) { return d.SetState(dcb); });
}

bool vxGetCommState(THandle h, TDCB& dcb) {
  return WithDevice(h, [&](TvxSerialDevice& d) { return d.GetState(dcb); });
}

bool vxSetCommTimeouts(THandle h, const TCOMMTIMEOUTS& timeouts) {
  return WithDevice(h, [&](TvxSerialDevice& d) {
    d.SetTimeouts(timeouts);
    return 0;
  });
}

bool vxGetCommTimeouts(THandle h, TCOMMTIMEOUTS& timeouts) {
  return WithDevice(h, [&](TvxSerialDevice& d) {
    timeouts = d.Timeouts();
    return 0;
  });
}

bool vxReadComm(THandle h, void* buffer, std::uint32_t count, std::uint32_t* done) {
  std::uint32_t n = 0;
  bool ok = WithDevice(h, [&](TvxSerialDevice& d) { return d.Read(buffer, count, n); });
  if (done) *done = n;
  return ok;
}

bool vxWriteComm(THandle h, const void* buffer, std::uint32_t len, bool wait) {
  if (int fault = TakeFault(vxSerialFaults().writeError)) return Fail(fault);
  return WithDevice(h, [&](TvxSerialDevice& d) { return d.Write(buffer, len, wait); });
}

bool vxClearCommError(THandle h, std::uint32_t& errors, TCOMSTAT* stat) {
  TCOMSTAT local;
  errors = 0;
  return WithDevice(h,
                    [&](TvxSerialDevice& d) { return d.ClearError(errors, stat ? *stat : local); });
}

bool vxSetCommMask(THandle h, std::uint32_t mask) {
  return WithDevice(h, [&](TvxSerialDevice& d) { return d.SetMask(mask); });
}

bool vxWaitCommEvent(THandle h, std::uint32_t& mask) {
  mask = 0;
  // A fault set while the thread already waits shows at the end of that wait.
  return WithDevice(h, [&](TvxSerialDevice& d) {
    if (int fault = TakeFault(vxSerialFaults().waitError)) return fault;
    int error = d.WaitEvent(mask);
    if (int fault = TakeFault(vxSerialFaults().waitError)) return fault;
    return error;
  });
}

void vxReleaseCommWait(THandle h) {
  if (auto device = vxSerialDevice(h)) device->Release();
}

TvxEventFds vxCommEventFds(THandle h) {
  auto device = vxSerialDevice(h);
  return device ? device->EventFds() : TvxEventFds{};
}

bool vxCommInputReportedUnread(THandle h) {
  auto device = vxSerialDevice(h);
  return device && device->InputReportedUnread();
}

bool vxPollCommEvent(THandle h, std::uint32_t& mask) {
  mask = 0;
  return WithDevice(h, [&](TvxSerialDevice& d) {
    if (int fault = TakeFault(vxSerialFaults().waitError)) return fault;
    return d.PollEvent(mask);
  });
}

bool vxGetCommModemStatus(THandle h, std::uint32_t& status) {
  status = 0;
  return WithDevice(h, [&](TvxSerialDevice& d) { return d.ModemStatus(status); });
}

bool vxEscapeCommFunction(THandle h, int function) {
  return WithDevice(h, [&](TvxSerialDevice& d) { return d.Escape(function); });
}

bool vxPurgeComm(THandle h, std::uint32_t flags) {
  return WithDevice(h, [&](TvxSerialDevice& d) { return d.Purge(flags); });
}

bool vxKernelRS485(THandle h) {
  std::shared_ptr<TvxSerialDevice> device = vxSerialDevice(h);
  return device && device->KernelRS485();
}
