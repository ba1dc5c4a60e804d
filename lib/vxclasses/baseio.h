// The medium-independent I/O component: activation, the receive path to the processor
// chain, the terminal, the notify list, the device list, fatal errors and logging.
//
// Thread: the component belongs to the main thread. DeliverData may run on a delivering
// thread (the serial message thread, or the worker thread); the processor chain and
// OnAfterReceive then run there. The terminal binding is guarded by terminal_mutex_
// because received data may reach it from that thread.
#pragma once

#include "vxcomm_export.h"

#include <QPointer>
#include <memory>
#include <mutex>

#include "rtl/component.h"
#include "rtl/format.h"
#include "rtl/stringlist.h"
#include "rtl/thread.h"
#include "vxclasses/device.h"
#include "vxclasses/logsink.h"
#include "vxclasses/notifylist.h"
#include "vxclasses/types.h"

class TvxCustomDataProcessor;
class TvxTextView;
class TvxThreadIO;

enum TTerminalUsage : std::uint8_t { tuNone, tuSend, tuReceive, tuBoth };

// (Com, Buffer, Received): after every received block.
using TOnReceived = std::function<void(TObject* com, const void* buffer, Cardinal received)>;

// A device-change broadcast, as the device selection box forwards it.
struct VXCOMM_EXPORT TvxDeviceChange {
  enum Event { NodesChanged, Arrival, RemoveComplete, Other };
  Event event = Other;
  bool isPort = false;  // the broadcast names a serial port
};

class VXCOMM_EXPORT TvxBaseIO : public TComponent {
  Q_OBJECT
  Q_PROPERTY(bool Active READ Active WRITE SetActive)
  Q_PROPERTY(bool TerminalEcho READ TerminalEcho WRITE SetTerminalEcho)
  Q_PROPERTY(bool UseMainThread READ UseMainThread WRITE SetUseMainThread)

 public:
  explicit TvxBaseIO(QObject* owner = nullptr);
  ~TvxBaseIO() override;

  // Read: while loading or designing the stored value, otherwise IsOpen. Write: opens or
  // closes the medium at run time; records the value while loading.
  bool Active() const;
  void SetActive(bool value);

  TvxCustomDataProcessor* DataProcessor() const { return data_processor_; }
  void SetDataProcessor(TvxCustomDataProcessor* value);
  TvxCustomLogFile* Log() const { return log_; }
  void SetLog(TvxCustomLogFile* value);
  // The terminal pane: any text view the installed UI services can bind (a QPlainTextEdit,
  // a QTextEdit or a QLineEdit with the widgets layer). A view they refuse throws their
  // Exception and leaves the terminal as it was.
  QObject* Terminal() const { return terminal_; }
  void SetTerminal(QObject* value);
  TTerminalUsage TerminalUsage() const { return terminal_usage_; }
  void SetTerminalUsage(TTerminalUsage value);
  bool TerminalEcho() const { return terminal_echo_; }
  void SetTerminalEcho(bool value) { terminal_echo_ = value; }
  bool UseMainThread() const { return use_main_thread_; }
  void SetUseMainThread(bool value) { use_main_thread_ = value; }
  TThreadPriority ThreadPriority() const { return thread_priority_; }
  void SetThreadPriority(TThreadPriority value) { thread_priority_ = value; }
  THandle Handle() const { return handle_; }
  // The text before every log entry: the class name unless a descendant sets its own.
  std::string LogPrefix() const;
  bool OwnsDevices() const { return owns_devices_; }
  void SetOwnsDevices(bool value) { owns_devices_ = value; }
  // True while received bytes are shown in the terminal.
  bool TerminalReceives() const;

  TOnFatalErrorEvent OnFatalError;
  TOnReceived OnAfterReceive;
  TNotifyEvent OnClose;
  TNotifyEvent OnOpen;

  virtual bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  virtual THandle OpenHandle() { return INVALID_HANDLE_VALUE; }
  virtual void ReleaseHandle(THandle handle);
  virtual bool HasReceiver() const;
  virtual void Open();
  virtual void Close();
  virtual void StartThreads();
  virtual void StopThreads();
  // The body of the worker thread; must return soon after Thread->Terminated().
  virtual void ThreadExecute(TvxThreadIO* thread);
  virtual void RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg,
                               bool showOnly = false);
  virtual void Notify(int code);
  // Hands a received block to the chain, the terminal and OnAfterReceive. Returns false.
  virtual bool DeliverData(const void* buffer, Cardinal len);
  virtual bool AfterSendHandled();
  virtual void SelectDevice(int index);
  virtual int GetDeviceIndex() { AbstractError(); }
  virtual int AddDevice(TvxDevice* device);
  virtual int InsertDevice(TvxDevice* device);
  virtual void EnumDevices() { AbstractError(); }
  virtual void ClearDevices();
  virtual void TerminalWrite(const void* buffer, Cardinal len);
  virtual void RefreshDevices();
  virtual int AddNotifyHandler(const TvxIONotifyEvent& handler);
  virtual void RemoveNotifyHandler(const TvxIONotifyEvent& handler);
  virtual void SendChar(char) { AbstractError(); }
  virtual void SendString(const std::string&) { AbstractError(); }
  virtual void SendData(const void*, Cardinal) { AbstractError(); }
  virtual void PurgeIn() { AbstractError(); }
  virtual void PurgeOut() { AbstractError(); }
  virtual void PurgeAll() { AbstractError(); }
  virtual void GetDeviceList(TStringList* strings);
  virtual bool HandleDeviceChange(const TvxDeviceChange& message);

  void LogMsg(TDetailLevel level, const std::string& msg);
  // True when the log takes entries at Level: per-block entries are built only then.
  bool Logs(TDetailLevel level) const { return log_ && log_->Admits(level); }
  void LogFmt(TDetailLevel level, const std::string& fmt, const TVarRecs& args);
  TvxDevice* GetDevice(int index) const;
  int DeviceCount() const { return devices_.Count(); }
  int IndexOfDevice(int portNumber) const;
  const TStringList& Devices() const { return devices_; }
  TvxNotifyList& NotifyList() { return notify_list_; }
  TvxThreadIO* WorkerThread() const { return worker_.get(); }

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 protected:
  void SetHandle(THandle handle) { handle_ = handle; }
  void SetLogPrefix(const std::string& prefix) {
    log_prefix_ = prefix;
    log_prefix_set_ = true;
  }
  void SetUsesWorkerThread(bool value) { uses_worker_thread_ = value; }
  bool UsesWorkerThread() const { return uses_worker_thread_; }
  bool WorkerStopping() const { return worker_stopping_; }
  // Runs DeliverData with the pending block; handed to the main thread by the worker.
  void DeliverPending();

 private:
  void HookTerminal(QObject* terminal);
  void UnhookTerminal();
  bool TerminalKey(char ch);

  TvxNotifyList notify_list_;
  TvxCustomLogFile* log_ = nullptr;
  TvxCustomDataProcessor* data_processor_ = nullptr;
  TStringList devices_;
  const void* pending_data_ = nullptr;
  Cardinal pending_len_ = 0;
  QPointer<QObject> terminal_;
  QMetaObject::Connection terminal_destroyed_;
  mutable std::mutex terminal_mutex_;           // guards terminal_view_ and terminal_receives_
  std::shared_ptr<TvxTextView> terminal_view_;  // the binding to terminal_
  bool terminal_receives_ = false;              // received bytes are shown
  TTerminalUsage terminal_usage_ = tuNone;
  bool terminal_echo_ = false;
  std::atomic<bool> writing_terminal_{false};
  std::unique_ptr<TvxThreadIO> worker_;
  bool use_main_thread_ = false;
  TThreadPriority thread_priority_ = tpNormal;
  bool active_at_load_ = false;
  THandle handle_ = INVALID_HANDLE_VALUE;
  std::string log_prefix_;
  bool log_prefix_set_ = false;
  bool owns_devices_ = true;
  bool uses_worker_thread_ = false;
  bool worker_stopping_ = false;
};

// The worker thread of an I/O component that reads on a thread of its own.
class VXCOMM_EXPORT TvxThreadIO : public TThread {
 public:
  TvxThreadIO(TvxBaseIO* io, TThreadPriority priority);
  ~TvxThreadIO() override { Stop(); }
  TvxBaseIO* IO() const { return io_; }
  // Runs Method on the main thread and waits; false when the thread was told to stop first.
  bool SyncCall(const std::function<void()>& method) { return Synchronize(method); }

 protected:
  void Execute() override;

 private:
  TvxBaseIO* io_;
};
