/// @file
/// The abstract data processor: attached to one I/O component, it sees every received
/// block, sends through the component, learns when the medium opens and closes, and owns a
/// one-shot timer.
///
/// Thread: no lock. Received data arrives on the I/O component's delivering thread, timer
/// ticks on the creating thread; both are the main thread when data is delivered there.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include "vxcomm/rtl/component.h"
#include "vxcomm/rtl/format.h"
#include "vxcomm/vxclasses/logsink.h"
#include "vxcomm/vxclasses/timer.h"
#include "vxcomm/vxclasses/types.h"

namespace vxcomm {

class TvxBaseIO;

/// (Sender, Data, Len, IsString, Handled): the send hook, called before the data goes to the
/// medium; Handled keeps the data from the medium. Data is valid during the call only.
using TvxDataSendEvent = std::function<void(TObject* sender, const void* data, Cardinal len,
                                            bool isString, bool& handled)>;

/// The base of every data processor (the packet detector, the file transfer). Processors form a
/// chain: each passes received blocks on to the next. Thread: no lock; received data arrives
/// on the I/O component's delivering thread, timer ticks on the creating thread (both the
/// main thread when the port delivers there). Failures: RaiseFatalError (Exception unless
/// OnFatalError cancels it). Ownership:
/// the I/O component, the next processor and the log are not owned; each is dropped when it is
/// destroyed.
class VXCOMM_EXPORT TvxCustomDataProcessor : public TComponent {
  Q_OBJECT

 public:
  /// Creates an inactive processor, attached to nothing, owned by Owner.
  explicit TvxCustomDataProcessor(QObject* owner = nullptr);
  /// Detaches from the I/O component.
  ~TvxCustomDataProcessor() override;

  /// Whether the processor works on what it receives.
  bool Active() const { return active_; }
  /// The next processor of the chain (not owned), or null.
  TvxCustomDataProcessor* DataProcessor() const { return data_processor_; }
  /// The I/O component the processor is attached to (not owned), or null.
  TvxBaseIO* IOComponent() const { return io_component_; }
  /// The log (not owned), or null.
  TvxCustomLogFile* Log() const { return log_; }
  /// Sets the log; not owned: a log destroyed first is dropped.
  void SetLog(TvxCustomLogFile* value);
  /// The one-shot timer (see StartTimer); its ticks run DoTimer on the creating thread.
  TvxTimer& Timer() { return timer_; }
  /// The text before every log entry of the processor.
  const std::string& LogPrefix() const { return log_prefix_; }

  /// Called by RaiseFatalError before anything is raised; it may clear the raise flag.
  TOnFatalErrorEvent OnFatalError;
  /// The send hook of DoDataSend and DoStringSend.
  TvxDataSendEvent OnDataSend;

  /// The notify handler registered with the I/O component: 1 closed, 2 opened.
  virtual void MediumNotify(TvxBaseIO* sender, int code);
  /// The medium closed; the base logs it.
  virtual void DoMediumClosed();
  /// The medium opened; the base logs it.
  virtual void DoMediumOpened();
  /// Links the next processor and attaches it to the same I/O component; a self-link is refused.
  virtual void SetDataProcessor(TvxCustomDataProcessor* value);
  /// Attaches to Value (null detaches), registering MediumNotify with it; not owned: a component
  /// destroyed first is dropped.
  virtual void SetIOComponent(TvxBaseIO* value);
  /// Sets Active.
  virtual void SetActive(bool value) { active_ = value; }
  /// Sends Len bytes from Buffer: through OnDataSend, or to the I/O component when the hook did not
  /// handle them. Nothing for no data; a failure of the medium or the hook is not passed to the
  /// caller (the I/O component reports its own).
  virtual void DoDataSend(const void* buffer, Cardinal len);
  /// Sends S, as DoDataSend (the hook gets IsString true).
  virtual void DoStringSend(const std::string& s);
  /// The timer fired: stops it and offers the end of a send (DoAfterSend).
  virtual void DoTimer(TObject* sender);
  /// Arms the timer for one tick after Interval ms; 0 stops it and keeps the interval.
  virtual void StartTimer(Cardinal interval);
  /// Reports a fatal error: OnFatalError is called (it may cancel the raise), the log gets an
  /// entry, then Exception(ErrorMsg) is thrown unless cancelled.
  virtual void RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg);
  /// Receives a block; the base passes it on to the next processor.
  virtual void DoDataReceived(const void* buffer, Cardinal len, bool& handled);
  /// Runs DoDataReceived with a block not yet handled.
  virtual void DataReceived(const void* buffer, Cardinal len);
  /// The transmit queue ran empty (or the timer fired); the base does nothing.
  virtual void DoAfterSend(bool& handled);

  /// Logs Msg, after LogPrefix, when the log takes Level.
  void LogMsg(TDetailLevel level, const std::string& msg);
  /// True when the log takes entries at Level: per-packet entries are built only then.
  bool Logs(TDetailLevel level) const { return log_ && log_->Admits(level); }
  /// Formats Fmt with Args (see Format) and logs it after LogPrefix, when the log takes Level.
  void LogFmt(TDetailLevel level, const std::string& fmt, const TVarRecs& args);

  /// Drops the next processor, the I/O component or the log when it is destroyed.
  void Notification(TComponent* component, TOperation operation) override;

 protected:
  /// Sets the text before every log entry.
  void SetLogPrefix(const std::string& prefix) { log_prefix_ = prefix; }

 private:
  TvxBaseIO* io_component_ = nullptr;
  TvxCustomDataProcessor* data_processor_ = nullptr;
  bool active_ = false;
  TvxCustomLogFile* log_ = nullptr;
  TvxTimer timer_;
  std::string log_prefix_;
};

}  // namespace vxcomm
