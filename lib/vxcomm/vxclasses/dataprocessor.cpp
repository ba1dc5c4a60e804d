#include "vxcomm/vxclasses/dataprocessor.h"

#include "vxcomm/vxclasses/baseio.h"

namespace vxcomm {

TvxCustomDataProcessor::TvxCustomDataProcessor(QObject* owner) : TComponent(owner) {
  timer_.SetEnabled(false);
  timer_.SetOnTimer([this](TObject* sender) { DoTimer(sender); });
}

TvxCustomDataProcessor::~TvxCustomDataProcessor() {
  Destroying();
  SetIOComponent(nullptr);
}

void TvxCustomDataProcessor::MediumNotify(TvxBaseIO*, int code) {
  if (code == 1)
    DoMediumClosed();
  else if (code == 2)
    DoMediumOpened();
}

void TvxCustomDataProcessor::DoMediumClosed() {
  LogMsg(dlDebug, "Medium Closed");
}

void TvxCustomDataProcessor::DoMediumOpened() {
  LogMsg(dlDebug, "Medium Opened");
}

void TvxCustomDataProcessor::SetDataProcessor(TvxCustomDataProcessor* value) {
  if (value == this) return;
  data_processor_ = value;
  if (value) {
    FreeNotification(value);
    value->SetIOComponent(io_component_);
  }
}

void TvxCustomDataProcessor::SetIOComponent(TvxBaseIO* value) {
  TvxIONotifyEvent handler = TvxIONotifyEvent::Of<&TvxCustomDataProcessor::MediumNotify>(this);
  if (io_component_ && io_component_ != value) io_component_->RemoveNotifyHandler(handler);
  io_component_ = value;
  if (value) {
    FreeNotification(value);
    value->AddNotifyHandler(handler);
  }
}

void TvxCustomDataProcessor::DoDataSend(const void* buffer, Cardinal len) {
  if (len == 0 || !buffer) return;
  try {
    bool handled = false;
    if (OnDataSend) OnDataSend(this, buffer, len, false, handled);
    if (handled) {
      timer_.SetEnabled(false);
      timer_.SetEnabled(true);
    } else if (io_component_) {
      io_component_->SendData(buffer, len);
    }
    if (Logs(dlDebug)) LogFmt(dlDebug, "DoDataSend: %u bytes", {len});
  } catch (...) {
    // Failures of the medium are the I/O component's to report.
  }
}

void TvxCustomDataProcessor::DoStringSend(const std::string& s) {
  if (s.empty()) return;
  try {
    bool handled = false;
    if (OnDataSend) {
      const std::string copy = s;
      OnDataSend(this, copy.data(), static_cast<Cardinal>(copy.size()), true, handled);
    }
    if (!handled && io_component_) io_component_->SendString(s);
  } catch (...) {
    // As DoDataSend: the caller learns nothing.
  }
}

void TvxCustomDataProcessor::DoTimer(TObject*) {
  timer_.SetEnabled(false);
  bool handled = false;
  DoAfterSend(handled);
}

void TvxCustomDataProcessor::StartTimer(Cardinal interval) {
  timer_.SetEnabled(false);
  if (interval == 0) return;
  timer_.SetInterval(interval);
  timer_.SetEnabled(true);
}

void TvxCustomDataProcessor::RaiseFatalError(Cardinal errorCode, Cardinal detail,
                                             const std::string& errorMsg) {
  bool raise = true;
  if (OnFatalError) OnFatalError(this, errorCode, detail, errorMsg, raise);
  if (log_)
    log_->AddFormattedAt(dlSimple, "Fatal Error: %u, %u, %s", {errorCode, detail, errorMsg});
  if (raise) throw Exception(errorMsg);
}

void TvxCustomDataProcessor::DoDataReceived(const void* buffer, Cardinal len, bool& handled) {
  if (data_processor_) data_processor_->DoDataReceived(buffer, len, handled);
}

void TvxCustomDataProcessor::DataReceived(const void* buffer, Cardinal len) {
  bool handled = false;
  DoDataReceived(buffer, len, handled);
}

void TvxCustomDataProcessor::DoAfterSend(bool&) {}

void TvxCustomDataProcessor::LogMsg(TDetailLevel level, const std::string& msg) {
  if (Logs(level)) log_->AddEntryAt(level, log_prefix_ + msg);
}

void TvxCustomDataProcessor::LogFmt(TDetailLevel level, const std::string& fmt,
                                    const TVarRecs& args) {
  if (Logs(level)) log_->AddFormattedAt(level, log_prefix_ + fmt, args);
}

void TvxCustomDataProcessor::SetLog(TvxCustomLogFile* value) {
  log_ = value;
  if (value) FreeNotification(value);
}

void TvxCustomDataProcessor::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == data_processor_)
    SetDataProcessor(nullptr);
  else if (component == io_component_)
    SetIOComponent(nullptr);
  else if (component == log_)
    log_ = nullptr;
}

}  // namespace vxcomm
