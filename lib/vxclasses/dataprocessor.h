// The abstract data processor: attached to one I/O component, it sees every received
// block, sends through the component, learns when the medium opens and closes, and owns a
// one-shot timer.
//
// Thread: no lock. Received data arrives on the I/O component's delivering thread, timer
// ticks on the creating thread; both are the main thread when data is delivered there.
#pragma once

#include "vxcomm_export.h"

#include "rtl/component.h"
#include "rtl/format.h"
#include "vxclasses/logsink.h"
#include "vxclasses/timer.h"
#include "vxclasses/types.h"

class TvxBaseIO;

// (Sender, Data, Len, IsString, Handled): the send hook; Handled keeps the data from the medium.
using TvxDataSendEvent = std::function<void(TObject* sender, const void* data, Cardinal len,
                                            bool isString, bool& handled)>;

class VXCOMM_EXPORT TvxCustomDataProcessor : public TComponent {
  Q_OBJECT

 public:
  explicit TvxCustomDataProcessor(QObject* owner = nullptr);
  ~TvxCustomDataProcessor() override;

  bool Active() const { return active_; }
  TvxCustomDataProcessor* DataProcessor() const { return data_processor_; }
  TvxBaseIO* IOComponent() const { return io_component_; }
  TvxCustomLogFile* Log() const { return log_; }
  void SetLog(TvxCustomLogFile* value);
  TvxTimer& Timer() { return timer_; }
  const std::string& LogPrefix() const { return log_prefix_; }

  TOnFatalErrorEvent OnFatalError;
  TvxDataSendEvent OnDataSend;

  // The notify handler registered with the I/O component: 1 closed, 2 opened.
  virtual void MediumNotify(TvxBaseIO* sender, int code);
  virtual void DoMediumClosed();
  virtual void DoMediumOpened();
  // Links the next processor and attaches it to the same I/O component; a self-link is refused.
  virtual void SetDataProcessor(TvxCustomDataProcessor* value);
  virtual void SetIOComponent(TvxBaseIO* value);
  virtual void SetActive(bool value) { active_ = value; }
  virtual void DoDataSend(const void* buffer, Cardinal len);
  virtual void DoStringSend(const std::string& s);
  virtual void DoTimer(TObject* sender);
  // Arms the timer for one tick after Interval ms; 0 stops it and keeps the interval.
  virtual void StartTimer(Cardinal interval);
  virtual void RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg);
  // Receives a block; the base passes it on to the next processor.
  virtual void DoDataReceived(const void* buffer, Cardinal len, bool& handled);
  virtual void DataReceived(const void* buffer, Cardinal len);
  virtual void DoAfterSend(bool& handled);

  void LogMsg(TDetailLevel level, const std::string& msg);
  // True when the log takes entries at Level: per-packet entries are built only then.
  bool Logs(TDetailLevel level) const { return log_ && log_->Admits(level); }
  void LogFmt(TDetailLevel level, const std::string& fmt, const TVarRecs& args);

  void Notification(TComponent* component, TOperation operation) override;

 protected:
  void SetLogPrefix(const std::string& prefix) { log_prefix_ = prefix; }

 private:
  TvxBaseIO* io_component_ = nullptr;
  TvxCustomDataProcessor* data_processor_ = nullptr;
  bool active_ = false;
  TvxCustomLogFile* log_ = nullptr;
  TvxTimer timer_;
  std::string log_prefix_;
};
