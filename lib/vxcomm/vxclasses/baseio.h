/// @file
/// The medium-independent I/O component: activation, the receive path to the processor
/// chain, the terminal, the notify list, the device list, fatal errors and logging.
///
/// Thread: the component belongs to the main thread. DeliverData may run on a delivering
/// thread (the serial message thread, or the worker thread); the processor chain and
/// OnAfterReceive then run there. The terminal binding is guarded by terminal_mutex_
/// because received data may reach it from that thread.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <QPointer>
#include <atomic>
#include <memory>
#include <mutex>

#include "vxcomm/rtl/component.h"
#include "vxcomm/rtl/format.h"
#include "vxcomm/rtl/stringlist.h"
#include "vxcomm/rtl/textview.h"
#include "vxcomm/rtl/thread.h"
#include "vxcomm/vxclasses/device.h"
#include "vxcomm/vxclasses/logsink.h"
#include "vxcomm/vxclasses/notifylist.h"
#include "vxcomm/vxclasses/types.h"

namespace vxcomm {

class TvxCustomDataProcessor;
class TvxTextView;
class TvxThreadIO;

/// Which way the terminal pane works: not at all, keys sent to the medium, received bytes shown, or
/// both.
enum TTerminalUsage : std::uint8_t { tuNone, tuSend, tuReceive, tuBoth };

/// (Com, Buffer, Received): after every received block.
using TOnReceived = std::function<void(TObject* com, const void* buffer, Cardinal received)>;

/// A device-change broadcast, as the device selection box forwards it.
struct VXCOMM_EXPORT TvxDeviceChange {
  /// The kind of device change.
  enum Event { NodesChanged, Arrival, RemoveComplete, Other };
  Event event = Other;
  bool isPort = false;  ///< the broadcast names a serial port
};

/// The base I/O component: what every medium shares, whatever carries the bytes.
///
/// Thread: main thread, except DeliverData and what it calls: it runs on the delivering thread
/// (the port's thread, or the main thread when the port delivers there), and so do the
/// processor chain and OnAfterReceive. Failures: RaiseFatalError (Exception unless
/// OnFatalError cancels it, or shown only). Ownership:
/// the data processor and the log are not owned (the component is told when they are destroyed and
/// drops them); the device list owns its devices while OwnsDevices is set.
class VXCOMM_EXPORT TvxBaseIO : public TComponent {
  Q_OBJECT
  Q_PROPERTY(bool Active READ Active WRITE SetActive)
  Q_PROPERTY(bool TerminalEcho READ TerminalEcho WRITE SetTerminalEcho)
  Q_PROPERTY(bool TerminalEmulation READ TerminalEmulation WRITE SetTerminalEmulation)
  Q_PROPERTY(bool UseMainThread READ UseMainThread WRITE SetUseMainThread)

 public:
  /// Creates a closed component owned by Owner (a component owner, or a QObject parent).
  explicit TvxBaseIO(QObject* owner = nullptr);
  /// Stops the worker thread, unhooks the terminal and frees the devices; a descendant closes its
  /// medium first.
  ~TvxBaseIO() override;

  /// Read: while loading or designing the stored value, otherwise IsOpen. Write: opens or
  /// closes the medium at run time; records the value while loading.
  bool Active() const;
  /// Opens (true) or closes (false) the medium, as Open and Close; while loading only records the
  /// value. Fails as Open does.
  void SetActive(bool value);

  /// The processor chain that received blocks go through first; not owned, null when none.
  TvxCustomDataProcessor* DataProcessor() const { return data_processor_; }
  /// Attaches Value (null detaches): the processor replaced is detached so it never sends through
  /// this component again. Not owned: a processor destroyed first is dropped.
  void SetDataProcessor(TvxCustomDataProcessor* value);
  /// The log the component writes to; not owned, null when none.
  TvxCustomLogFile* Log() const { return log_; }
  /// Sets the log; not owned: a log destroyed first is dropped.
  void SetLog(TvxCustomLogFile* value);
  /// The terminal pane: any text view the installed UI services can bind (a QPlainTextEdit,
  /// a QTextEdit or a QLineEdit with the widgets layer). A view they refuse throws their
  /// Exception and leaves the terminal as it was.
  QObject* Terminal() const { return terminal_; }
  /// Binds Value (null unbinds) as the terminal pane; not owned: a view destroyed first is dropped.
  /// A view the UI services refuse throws their Exception and leaves the terminal as it was.
  void SetTerminal(QObject* value);
  /// Whether the terminal sends keys, shows received bytes, both or neither (tuNone by default).
  TTerminalUsage TerminalUsage() const { return terminal_usage_; }
  /// Sets the terminal usage; received bytes are shown only with a terminal bound and tuReceive or
  /// tuBoth.
  void SetTerminalUsage(TTerminalUsage value);
  /// With TerminalEcho a key sent from the terminal is also shown there; without it the key is only
  /// sent. Off by default.
  bool TerminalEcho() const { return terminal_echo_; }
  /// Sets TerminalEcho.
  void SetTerminalEcho(bool value) { terminal_echo_ = value; }
  /// With TerminalEmulation the terminal pane acts as a terminal's screen (see
  /// TvxTextView::SetTerminalEmulation): received bytes go to its end whatever the caret, decoded
  /// in TerminalEncoding, control characters and escape sequences act, and typed characters and
  /// Tab are sent in TerminalEncoding. Off by default: each byte is a character of its own.
  bool TerminalEmulation() const { return terminal_emulation_; }
  /// Sets TerminalEmulation; the bound terminal follows at once.
  void SetTerminalEmulation(bool value);
  /// The bytes of the terminal's characters while TerminalEmulation is on (teLatin1 by default).
  TTerminalEncoding TerminalEncoding() const { return terminal_encoding_; }
  /// Sets TerminalEncoding; the bound terminal follows at once.
  void SetTerminalEncoding(TTerminalEncoding value);
  /// Whether received data is delivered on the main thread (a medium with a thread of its own hands
  /// each block to the main thread and waits). Read by the medium when it opens.
  bool UseMainThread() const { return use_main_thread_; }
  /// Sets UseMainThread; takes effect at the next open.
  void SetUseMainThread(bool value) { use_main_thread_ = value; }
  /// The priority of the worker thread, given to it when it starts.
  TThreadPriority ThreadPriority() const { return thread_priority_; }
  /// Sets the priority the next worker thread starts with.
  void SetThreadPriority(TThreadPriority value) { thread_priority_ = value; }
  /// The handle of the open medium, INVALID_HANDLE_VALUE when closed.
  THandle Handle() const { return handle_; }
  /// The text before every log entry: the class name unless a descendant sets its own.
  std::string LogPrefix() const;
  /// Whether ClearDevices and destruction delete the devices of the list (on by default).
  bool OwnsDevices() const { return owns_devices_; }
  /// Sets OwnsDevices.
  void SetOwnsDevices(bool value) { owns_devices_ = value; }
  /// True while received bytes are shown in the terminal.
  bool TerminalReceives() const;

  /// Called by RaiseFatalError before anything is raised or shown; it may clear the raise flag.
  TOnFatalErrorEvent OnFatalError;
  /// Called after every received block, on the delivering thread, after the processor and the
  /// terminal.
  TOnReceived OnAfterReceive;
  /// Called after the medium is closed; an exception it throws is swallowed and the close stands.
  TNotifyEvent OnClose;
  /// Called after the medium is open; an exception it throws is swallowed and the open stands.
  TNotifyEvent OnOpen;

  /// True while the medium is open (a valid handle is held).
  virtual bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  /// Opens the medium: its handle, or INVALID_HANDLE_VALUE when it cannot be opened. The base opens
  /// nothing.
  virtual THandle OpenHandle() { return INVALID_HANDLE_VALUE; }
  /// Closes Handle; called by Close once any worker thread has stopped.
  virtual void ReleaseHandle(THandle handle);
  /// True when received data has somewhere to go: a terminal, OnAfterReceive or a processor.
  virtual bool HasReceiver() const;
  /// Opens the medium through OpenHandle; when that fails the component stays closed and nothing is
  /// raised here (a descendant reports the failure). Then starts the worker thread, if the medium
  /// uses one, and calls OnOpen. Main thread.
  virtual void Open();
  /// Closes the medium; nothing happens when it is closed. The worker thread stops before the
  /// handle is released, then OnClose is called. Main thread.
  virtual void Close();
  /// Starts a new worker thread (stopping any earlier one) at ThreadPriority.
  virtual void StartThreads();
  /// Tells the worker thread to end and joins it; called from the worker itself, it is joined later
  /// (by the next start or by destruction).
  virtual void StopThreads();
  /// The body of the worker thread; must return soon after Thread->Terminated().
  virtual void ThreadExecute(TvxThreadIO* thread);
  /// Reports a fatal error: OnFatalError is called (it may cancel the raise) and the log gets an
  /// entry. Then, unless cancelled or loading, throws Exception(ErrorMsg), or with ShowOnly shows
  /// it through the UI services instead.
  virtual void RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg,
                               bool showOnly = false);
  /// Calls every handler of the notify list with Code (3: the device changed).
  virtual void Notify(int code);
  /// Hands a received block to the chain, the terminal and OnAfterReceive. Returns false.
  virtual bool DeliverData(const void* buffer, Cardinal len);
  /// Offers the end of a send to the processor chain; true when it handled it.
  virtual bool AfterSendHandled();
  /// Selects the device at Index of the device list; the base only notifies (code 3).
  virtual void SelectDevice(int index);
  /// The index of the selected device in the device list, or -1; abstract in the base (throws
  /// EAbstractError).
  virtual int GetDeviceIndex() { AbstractError(); }
  /// Appends Device to the device list and makes the component its owner; returns its index. The
  /// list owns Device while OwnsDevices is set.
  virtual int AddDevice(TvxDevice* device);
  /// Inserts Device in port-number order; -1, with Device not taken (the caller still owns it),
  /// when its port number is already listed.
  virtual int InsertDevice(TvxDevice* device);
  /// Fills the device list; abstract in the base (throws EAbstractError).
  virtual void EnumDevices() { AbstractError(); }
  /// Empties the device list, deleting the devices while OwnsDevices is set.
  virtual void ClearDevices();
  /// Shows a received block in the terminal while it shows received bytes (NUL bytes are left out);
  /// may be called from the delivering thread.
  virtual void TerminalWrite(const void* buffer, Cardinal len);
  /// Reads the devices again; the base only notifies (code 3).
  virtual void RefreshDevices();
  /// Adds Handler to the notify list (once): its index.
  virtual int AddNotifyHandler(const TvxIONotifyEvent& handler);
  /// Removes Handler from the notify list; an unknown handler is ignored.
  virtual void RemoveNotifyHandler(const TvxIONotifyEvent& handler);
  /// Sends one byte; abstract in the base (throws EAbstractError).
  virtual void SendChar(char) { AbstractError(); }
  /// Sends the bytes of S; abstract in the base (throws EAbstractError).
  virtual void SendString(const std::string&) { AbstractError(); }
  /// Sends Len bytes from Buffer; abstract in the base (throws EAbstractError).
  virtual void SendData(const void*, Cardinal) { AbstractError(); }
  /// Bytes sent that still wait to leave for the medium; 0 in the base, which keeps no queue.
  virtual Cardinal OutQueueCount() { return 0; }
  /// Drops the input queued; abstract in the base (throws EAbstractError).
  virtual void PurgeIn() { AbstractError(); }
  /// Drops the output queued; abstract in the base (throws EAbstractError).
  virtual void PurgeOut() { AbstractError(); }
  /// Drops both queues; abstract in the base (throws EAbstractError).
  virtual void PurgeAll() { AbstractError(); }
  /// Copies the device list (names and devices, which stay owned by the component) into Strings,
  /// enumerating first when the list is empty. A null Strings only enumerates.
  virtual void GetDeviceList(TStringList* strings);
  /// Refreshes the devices when Message concerns them (nodes changed, a port arrived or went); true
  /// when it did.
  virtual bool HandleDeviceChange(const TvxDeviceChange& message);

  /// Writes Msg, after LogPrefix, to the log at Level; an empty Msg writes the log header. Nothing
  /// without a log.
  void LogMsg(TDetailLevel level, const std::string& msg);
  /// True when the log takes entries at Level: per-block entries are built only then.
  bool Logs(TDetailLevel level) const { return log_ && log_->Admits(level); }
  /// Formats Fmt with Args (see Format) and logs it after LogPrefix, when the log takes Level.
  void LogFmt(TDetailLevel level, const std::string& fmt, const TVarRecs& args);
  /// The device at Index, or null outside the list; owned by the list.
  TvxDevice* GetDevice(int index) const;
  /// The number of devices listed.
  int DeviceCount() const { return devices_.Count(); }
  /// The index of the device with PortNumber, or -1.
  int IndexOfDevice(int portNumber) const;
  /// The device list: display names with their TvxDevice objects.
  const TStringList& Devices() const { return devices_; }
  /// The handlers told of device changes (see Notify).
  TvxNotifyList& NotifyList() { return notify_list_; }
  /// The worker thread while one runs, or null; owned by the component.
  TvxThreadIO* WorkerThread() const { return worker_.get(); }

  /// After loading: binds the stored terminal and opens the medium if Active was stored; an error
  /// is shown, not raised.
  void Loaded() override;
  /// Drops the processor or the log when it is destroyed.
  void Notification(TComponent* component, TOperation operation) override;

 protected:
  /// Sets the handle of the open medium.
  void SetHandle(THandle handle) { handle_ = handle; }
  /// Sets the text before every log entry.
  void SetLogPrefix(const std::string& prefix) {
    log_prefix_ = prefix;
    log_prefix_set_ = true;
  }
  /// Makes Open and Close start and stop the worker thread.
  void SetUsesWorkerThread(bool value) { uses_worker_thread_ = value; }
  /// Whether Open and Close start and stop the worker thread.
  bool UsesWorkerThread() const { return uses_worker_thread_; }
  /// True once the worker thread has been told to stop.
  bool WorkerStopping() const { return worker_stopping_; }
  /// Runs DeliverData with the pending block; handed to the main thread by the worker.
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
  mutable std::mutex terminal_mutex_;           ///< guards terminal_view_ and terminal_receives_
  std::shared_ptr<TvxTextView> terminal_view_;  ///< the binding to terminal_
  bool terminal_receives_ = false;              ///< received bytes are shown
  TTerminalUsage terminal_usage_ = tuNone;
  bool terminal_echo_ = false;
  std::atomic<bool> terminal_emulation_{false};  ///< set on the main thread, read by TerminalWrite
  TTerminalEncoding terminal_encoding_ = teLatin1;  ///< main thread
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

/// The worker thread of an I/O component that reads on a thread of its own.
class VXCOMM_EXPORT TvxThreadIO : public TThread {
 public:
  /// Creates the (not started) worker of Io; Io is not owned and must outlive the thread.
  TvxThreadIO(TvxBaseIO* io, TThreadPriority priority);
  /// Terminates the thread and waits for it.
  ~TvxThreadIO() override { Stop(); }
  /// The component the thread works for.
  TvxBaseIO* IO() const { return io_; }
  /// Runs Method on the main thread and waits; false when the thread was told to stop first.
  bool SyncCall(const std::function<void()>& method) { return Synchronize(method); }

 protected:
  /// Runs the component's ThreadExecute.
  void Execute() override;

 private:
  TvxBaseIO* io_;
};

}  // namespace vxcomm
