#include "vxcomm/vxclasses/baseio.h"

#include <string_view>

#include "vxcomm/platform/handles.h"
#include "vxcomm/rtl/textview.h"
#include "vxcomm/rtl/uiservices.h"
#include "vxcomm/vxclasses/dataprocessor.h"

namespace vxcomm {

TvxBaseIO::TvxBaseIO(QObject* owner) : TComponent(owner) {}

TvxBaseIO::~TvxBaseIO() {
  Destroying();
  // A descendant closes its medium first; this only makes sure no worker survives.
  if (worker_) {
    worker_->Stop();
    worker_.reset();
  }
  UnhookTerminal();
  ClearDevices();
}

bool TvxBaseIO::Active() const {
  if (IsLoading() || IsDesigning()) return active_at_load_;
  return IsOpen();
}

void TvxBaseIO::SetActive(bool value) {
  if (IsLoading()) {
    active_at_load_ = value;
    return;
  }
  if (value != Active() || IsDesigning()) {
    if (value)
      Open();
    else
      Close();
  }
  if (IsDesigning()) {
    active_at_load_ = IsOpen();
    if (IsOpen()) Close();
  }
}

void TvxBaseIO::SetDataProcessor(TvxCustomDataProcessor* value) {
  if (value == data_processor_) return;
  // A processor replaced by another is detached, so it never sends through us again.
  if (data_processor_) {
    TvxCustomDataProcessor* old = data_processor_;
    data_processor_ = nullptr;
    old->SetIOComponent(nullptr);
  }
  data_processor_ = value;
  if (value) {
    value->SetIOComponent(this);
    FreeNotification(value);
  }
}

void TvxBaseIO::SetLog(TvxCustomLogFile* value) {
  log_ = value;
  if (value) FreeNotification(value);
}

void TvxBaseIO::SetTerminal(QObject* value) {
  // A view that cannot show received bytes is refused before anything changes, so no byte
  // ever goes to a terminal that drops it.
  if (value) UIServices().CheckTextView(value);
  UnhookTerminal();
  {
    std::lock_guard lock(terminal_mutex_);
    terminal_receives_ = false;
  }
  if (value) HookTerminal(value);
  if (IsDesigning() && value && terminal_usage_ == tuNone) terminal_usage_ = tuBoth;
  SetTerminalUsage(terminal_usage_);
}

void TvxBaseIO::HookTerminal(QObject* terminal) {
  terminal_ = terminal;
  std::shared_ptr<TvxTextView> view = UIServices().BindTextView(terminal);
  if (view) {
    view->SetKeyHook([this](char ch) { return TerminalKey(ch); });
    view->SetTerminalEmulation(terminal_emulation_, terminal_encoding_);
  }
  {
    std::lock_guard lock(terminal_mutex_);
    terminal_view_ = std::move(view);
  }
  // A view is no component: its destruction is watched through QObject. The binding is
  // dropped without unhooking, as the view is already gone.
  terminal_destroyed_ = connect(terminal, &QObject::destroyed, this, [this] {
    std::lock_guard lock(terminal_mutex_);
    terminal_view_.reset();
    terminal_receives_ = false;
  });
}

void TvxBaseIO::UnhookTerminal() {
  disconnect(terminal_destroyed_);
  std::shared_ptr<TvxTextView> view;
  {
    std::lock_guard lock(terminal_mutex_);
    view = std::move(terminal_view_);
    terminal_view_.reset();
  }
  if (view && terminal_) view->SetKeyHook({});
  terminal_ = nullptr;
}

void TvxBaseIO::SetTerminalUsage(TTerminalUsage value) {
  terminal_usage_ = value;
  std::lock_guard lock(terminal_mutex_);
  terminal_receives_ = terminal_view_ && (value == tuReceive || value == tuBoth);
}

void TvxBaseIO::SetTerminalEmulation(bool value) {
  terminal_emulation_ = value;
  std::lock_guard lock(terminal_mutex_);
  if (terminal_view_) terminal_view_->SetTerminalEmulation(value, terminal_encoding_);
}

void TvxBaseIO::SetTerminalEncoding(TTerminalEncoding value) {
  terminal_encoding_ = value;
  std::lock_guard lock(terminal_mutex_);
  if (terminal_view_) terminal_view_->SetTerminalEmulation(terminal_emulation_, value);
}

bool TvxBaseIO::TerminalReceives() const {
  std::lock_guard lock(terminal_mutex_);
  return terminal_receives_;
}

bool TvxBaseIO::TerminalKey(char ch) {
  if (writing_terminal_ || !(terminal_usage_ == tuSend || terminal_usage_ == tuBoth)) return false;
  SendChar(ch);
  return !terminal_echo_;
}

void TvxBaseIO::ReleaseHandle(THandle handle) {
  vxCloseHandle(handle);
}

bool TvxBaseIO::HasReceiver() const {
  return terminal_ || OnAfterReceive || data_processor_;
}

void TvxBaseIO::Open() {
  handle_ = OpenHandle();
  if (!IsOpen()) return;
  if (uses_worker_thread_) StartThreads();
  if (OnOpen) {
    try {
      OnOpen(this);
    } catch (...) {
      // The open stands whatever the handler did.
    }
  }
}

void TvxBaseIO::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  // The worker stops before the handle goes, so it never reads a closed (or reused) handle.
  if (uses_worker_thread_) StopThreads();
  ReleaseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (OnClose) {
    try {
      OnClose(this);
    } catch (...) {
      // The close stands whatever the handler did.
    }
  }
}

void TvxBaseIO::StartThreads() {
  if (worker_) {
    worker_->Stop();
    worker_.reset();
  }
  worker_stopping_ = false;
  worker_ = std::make_unique<TvxThreadIO>(this, thread_priority_);
  worker_->Start();
}

void TvxBaseIO::StopThreads() {
  if (!worker_ || worker_stopping_) return;
  worker_stopping_ = true;
  worker_->Terminate();
  // The worker itself may close the medium; it cannot wait for its own end, so the
  // thread object is joined by the next start or by destruction.
  if (worker_->IsCurrent()) return;
  worker_->WaitFor();
  worker_.reset();
}

void TvxBaseIO::ThreadExecute(TvxThreadIO*) {}

void TvxBaseIO::RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg,
                                bool showOnly) {
  bool raise = true;
  if (OnFatalError) OnFatalError(this, errorCode, detail, errorMsg, raise);
  if (log_)
    log_->AddFormattedAt(dlSimple, "Fatal Error: %u, %u, %s", {errorCode, detail, errorMsg});
  if (!raise || IsLoading()) return;
  if (!showOnly) throw Exception(errorMsg);
  UIServices().ShowException(Exception(errorMsg));
}

void TvxBaseIO::Notify(int code) {
  notify_list_.NotifyAll(this, code);
}

bool TvxBaseIO::DeliverData(const void* buffer, Cardinal len) {
  if (worker_ && use_main_thread_ && worker_->IsCurrent()) {
    pending_data_ = buffer;
    pending_len_ = len;
    worker_->SyncCall([this] { DeliverPending(); });
    return false;
  }
  bool handled = false;
  if (data_processor_) data_processor_->DoDataReceived(buffer, len, handled);
  if (terminal_ && !handled) TerminalWrite(buffer, len);
  if (OnAfterReceive) OnAfterReceive(this, buffer, len);
  return false;
}

void TvxBaseIO::DeliverPending() {
  DeliverData(pending_data_, pending_len_);
}

bool TvxBaseIO::AfterSendHandled() {
  bool handled = false;
  if (data_processor_) data_processor_->DoAfterSend(handled);
  return handled;
}

void TvxBaseIO::SelectDevice(int) {
  Notify(3);
}

int TvxBaseIO::AddDevice(TvxDevice* device) {
  int index = devices_.AddObject(device->DisplayName, device);
  device->Index = index;
  device->Owner = this;
  return index;
}

int TvxBaseIO::InsertDevice(TvxDevice* device) {
  int count = devices_.Count();
  if (count == 0 || GetDevice(count - 1)->PortNumber < device->PortNumber) return AddDevice(device);
  for (int i = 0; i < count; ++i) {
    TvxDevice* at = GetDevice(i);
    if (at->PortNumber == device->PortNumber) return -1;
    if (at->PortNumber > device->PortNumber) {
      devices_.InsertObject(i, device->DisplayName, device);
      device->Index = i;
      device->Owner = this;
      for (int j = i + 1; j < devices_.Count(); ++j) GetDevice(j)->Index = j;
      return i;
    }
  }
  return -1;
}

void TvxBaseIO::ClearDevices() {
  if (owns_devices_)
    for (int i = 0; i < devices_.Count(); ++i) delete devices_.Objects(i);
  devices_.Clear();
}

void TvxBaseIO::TerminalWrite(const void* buffer, Cardinal len) {
  std::shared_ptr<TvxTextView> view;
  {
    std::lock_guard lock(terminal_mutex_);
    if (terminal_receives_) view = terminal_view_;
  }
  if (!view || !buffer || len == 0) return;
  writing_terminal_ = true;
  const char* bytes = static_cast<const char*>(buffer);
  if (terminal_emulation_) {
    view->WriteTerminal(std::string(bytes, len));
  } else if (len == 1) {
    view->TypeChar(bytes[0]);
  } else {
    // NUL bytes are not shown: each piece between them is inserted in turn.
    Cardinal start = 0;
    for (Cardinal i = 0; i <= len; ++i) {
      if (i == len || bytes[i] == '\0') {
        if (i > start) view->InsertText(std::string(bytes + start, i - start));
        start = i + 1;
      }
    }
  }
  writing_terminal_ = false;
}

void TvxBaseIO::RefreshDevices() {
  Notify(3);
}

int TvxBaseIO::AddNotifyHandler(const TvxIONotifyEvent& handler) {
  int index = notify_list_.IndexOfHandler(handler);
  return index >= 0 ? index : notify_list_.Add(handler);
}

void TvxBaseIO::RemoveNotifyHandler(const TvxIONotifyEvent& handler) {
  notify_list_.Delete(notify_list_.IndexOfHandler(handler));
}

void TvxBaseIO::GetDeviceList(TStringList* strings) {
  if (devices_.Count() == 0) EnumDevices();
  if (!strings) return;
  strings->Clear();
  for (int i = 0; i < devices_.Count(); ++i)
    strings->AddObject(devices_.Strings(i), devices_.Objects(i));
}

bool TvxBaseIO::HandleDeviceChange(const TvxDeviceChange& message) {
  bool relevant = message.event == TvxDeviceChange::NodesChanged ||
                  ((message.event == TvxDeviceChange::Arrival ||
                    message.event == TvxDeviceChange::RemoveComplete) &&
                   message.isPort);
  if (relevant) RefreshDevices();
  return relevant;
}

void TvxBaseIO::LogMsg(TDetailLevel level, const std::string& msg) {
  if (!log_) return;
  if (msg.empty())
    log_->AddHeader();
  else if (log_->Admits(level))
    log_->AddEntryAt(level, LogPrefix() + msg);
}

void TvxBaseIO::LogFmt(TDetailLevel level, const std::string& fmt, const TVarRecs& args) {
  if (Logs(level)) log_->AddFormattedAt(level, LogPrefix() + fmt, args);
}

std::string TvxBaseIO::LogPrefix() const {
  // The most-derived class is known only once construction is over, so it is read here;
  // the log names it without its namespace ("TvxComm", not "vxcomm::TvxComm").
  if (log_prefix_set_) return log_prefix_;
  const std::string_view name = metaObject()->className();
  const auto scope = name.rfind("::");
  return std::string(scope == std::string_view::npos ? name : name.substr(scope + 2));
}

TvxDevice* TvxBaseIO::GetDevice(int index) const {
  if (index < 0 || index >= devices_.Count()) return nullptr;
  return static_cast<TvxDevice*>(devices_.Objects(index));
}

int TvxBaseIO::IndexOfDevice(int portNumber) const {
  for (int i = 0; i < devices_.Count(); ++i)
    if (GetDevice(i)->PortNumber == portNumber) return i;
  return -1;
}

void TvxBaseIO::Loaded() {
  TComponent::Loaded();
  try {
    SetTerminal(terminal_);
    SetTerminalUsage(terminal_usage_);
    SetActive(active_at_load_);
  } catch (...) {
    UIServices().ShowError("error", "Error");
  }
}

void TvxBaseIO::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == data_processor_) {
    TvxCustomDataProcessor* old = data_processor_;
    data_processor_ = nullptr;
    old->SetIOComponent(nullptr);
  } else if (component == log_) {
    log_ = nullptr;
  }
}

TvxThreadIO::TvxThreadIO(TvxBaseIO* io, TThreadPriority priority) : io_(io) {
  SetPriority(priority);
}

void TvxThreadIO::Execute() {
  io_->ThreadExecute(this);
}

}  // namespace vxcomm
