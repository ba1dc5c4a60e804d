/// @file
/// Unit vxcomm: the serial port component.
///
/// TvxCustomComm turns the base I/O component into a serial port (open, close, sends, the
/// receive step, line errors, modem lines, purges, time-outs and the line settings);
/// TvxCustomSerialComm adds the port identity, the connection test, the Plug and Play
/// identification and the saved configuration; TvxComm publishes the properties.
///
/// Thread: the component belongs to the main thread; properties are set and the port
/// opened and closed there, and it is deleted there (or from its own handlers: see operator
/// delete). Port events are handled one at a time, in order, on one of two roads settled
/// when the port opens: with UseMainThread (the default) and the port opened
/// on the main thread, the main thread's event loop watches the port and handles each event
/// where it wakes (TCommWatcher); otherwise a port thread waits and handles them itself
/// (TCommThread). A change of UseMainThread takes effect at the next open. The
/// application's receive, trace, send and error handlers run on that thread; with delivery
/// on the port thread, set the handlers, the processor and the terminal before the port
/// opens. Close joins the port thread; a Close called on it is carried out on the main
/// thread. Whatever a handler throws is caught there and reported (fatal error 1, shown,
/// never raised), and delivery goes on.
///
/// The port itself is a device object of the serial layer (platform/serialdevice.h) that
/// the component holds while the port is open; Handle is a number naming it.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "vxcomm/platform/configstore.h"
#include "vxcomm/platform/debugout.h"
#include "vxcomm/platform/serialdevice.h"
#include "vxcomm/platform/serialtypes.h"
#include "vxcomm/vxclasses.h"
#include "vxcomm/vxcomm/commthreads.h"
#include "vxcomm/vxcomm/commtypes.h"
#include "vxcomm/vxcomm/commwatcher.h"
#include "vxcomm/vxcomm/portenum.h"

namespace vxcomm {

/// The serial port component without its port identity: open and close, sends, the receive step,
/// line errors, modem lines, purges, time-outs and the line settings.
///
/// Thread: main thread for properties, Open, Close and deletion; the port's events (receive,
/// trace, send, error handlers) arrive on the delivering thread: the main thread's event loop
/// with UseMainThread (the default), otherwise the port thread. Sends come from the main
/// thread or from a handler on the delivering thread. A failed open is a fatal error
/// (RaiseFatalError: Exception thrown unless OnFatalError cancels it); a failed write goes to
/// CommError and OnCommError, never raised. Sends, purges and line queries do nothing (or report
/// nothing) while the port is closed.
class VXCOMM_EXPORT TvxCustomComm : public TvxBaseIO {
  Q_OBJECT

 public:
  /// Creates a closed port owned by Owner.
  explicit TvxCustomComm(QObject* owner = nullptr);
  /// Closes the port and joins every port thread.
  ~TvxCustomComm() override;
  /// Deleting the component (delete, deleteLater, a QObject parent that goes) first ends event
  /// delivery, joining the port thread, and only then runs the destructors, so a descendant
  /// needs no steps of its own for it (Destroying, StopEventDelivery: still harmless).
  ///
  /// Deleting it from inside its own work on the same thread (any handler it calls, on either
  /// road: an event, OnClose, OnFatalError, OnCommError of a send, a notify handler) is safe
  /// and deferred: at once the port is closed (OnClose, notify code 1, as the destructor
  /// does) and the component leaves its parent; the object itself goes once that work is
  /// over, as deleteLater would have it (the application's event loop must run for that).
  /// A component that is not deleted (a member, a local variable) is destroyed by its owner
  /// outside its own handlers, after closing the port when a descendant adds state that its
  /// handlers read.
  static void operator delete(TvxCustomComm* comm, std::destroying_delete_t);

  /// Input queue size asked of the device, at once when open: it bounds the input the device keeps
  /// queued for ReadBuffer (the kernel sizes its own queues). The receive buffer is sized from
  /// BufferInSize at each open, at least 8192 bytes. 8192 by default.
  std::uint16_t BufferInSize() const { return buffer_in_size_; }
  /// Sets BufferInSize; applied to the device at once when open.
  void SetBufferInSize(std::uint16_t value);
  /// Output queue size asked of the device (8192 by default).
  std::uint16_t BufferOutSize() const { return buffer_out_size_; }
  /// Sets BufferOutSize; applied to the device at once when open.
  void SetBufferOutSize(std::uint16_t value);
  /// Per-byte read time-out in ms (the read total multiplier of the time-outs); read from the
  /// device when open.
  Cardinal TimeoutRead();
  /// Sets the per-byte read time-out in ms; applied at once when open.
  void SetTimeoutRead(Cardinal value);
  /// Per-byte write time-out in ms (the write total multiplier of the time-outs); read from the
  /// device when open.
  Cardinal TimeoutWrite();
  /// Sets the per-byte write time-out in ms; applied at once when open.
  void SetTimeoutWrite(Cardinal value);
  /// The port events and line changes reported through OnTraceState; may be read from the
  /// delivering thread.
  TTraceStates TraceStates() const { return TTraceStates::FromBits(trace_states_.load()); }
  /// Sets the events watched; the device's event mask follows at once when open. Main thread.
  void SetTraceStates(TTraceStates value);
  /// The modem lines now; empty when closed or when the query fails.
  TModemSignals ModemSignals();
  /// Indicator of CTS: any QObject with a "checked" property, set on its own thread when the line
  /// changes; others are accepted and left alone. Not owned; a destroyed indicator reads as null.
  QObject* MonitorCTS() const { return monitor_cts_; }
  /// Sets the CTS indicator (not owned).
  void SetMonitorCTS(QObject* value) { monitor_cts_ = value; }
  /// Indicator of DSR, as MonitorCTS.
  QObject* MonitorDSR() const { return monitor_dsr_; }
  /// Sets the DSR indicator (not owned).
  void SetMonitorDSR(QObject* value) { monitor_dsr_ = value; }
  /// Indicator of the carrier (RLSD), as MonitorCTS.
  QObject* MonitorRLSD() const { return monitor_rlsd_; }
  /// Sets the carrier indicator (not owned).
  void SetMonitorRLSD(QObject* value) { monitor_rlsd_ = value; }
  /// Indicator of the ring line, as MonitorCTS; it is latched: set on a ring, never cleared here.
  QObject* MonitorRing() const { return monitor_ring_; }
  /// Sets the ring indicator (not owned).
  void SetMonitorRing(QObject* value) { monitor_ring_ = value; }
  /// True when RS-485 direction switching is done here with RTS (the driver does not do RS-485
  /// itself).
  bool SoftwareRTS() const { return software_rts_; }
  /// The message of the last failed open.
  const std::string& LastErrorText() const { return last_error_text_; }
  /// Why the last failure happened: the system's text for a failed write, for a device that
  /// went away, or for a failed open; empty before any. A block SendData queued that fails
  /// later is a line error (CE_TXFULL, OnCommError); its reason is here by the time that
  /// error is reported. Any thread.
  std::string FailureText() const;
  /// The system error code of that failure (errno), 0 before any. Any thread.
  int FailureCode() const;
  /// True once the open device went away (unplugged, its pseudo-terminal master or relay
  /// gone), until the next open: the port closed for that, and FailureText tells why. Set
  /// before the loss is reported (ReportDeviceLoss) and before OnClose. Any thread.
  bool DeviceLost() const { return device_lost_; }
  /// Whether a device that goes away while open (unplugged, its pseudo-terminal master or
  /// relay gone) is reported before the port closes: CommError with CommCode 0 and SysError
  /// the system error (OnCommError, on the delivering thread), then fatal error 1 with that
  /// code as detail and the reason in the message, shown, never raised (OnFatalError). Off
  /// by default: the port only closes (OnClose, notify code 1). FailureText tells the reason
  /// either way.
  bool ReportDeviceLoss() const { return report_device_loss_; }
  /// Sets ReportDeviceLoss; any thread, takes effect at once.
  void SetReportDeviceLoss(bool value) { report_device_loss_ = value; }
  /// Whether Close lets the output still queued leave before it closes the port, waiting at
  /// most as long as the write time-outs give those bytes (queued x TimeoutWrite plus the
  /// write constant), and no longer than 2 s (more below 20480 baud) once the queue stopped
  /// shrinking (a peer gone, flow control held off); what is left then is purged. Off by
  /// default: Close purges at once.
  /// The destructor closes the same way.
  bool DrainOnClose() const { return drain_on_close_; }
  /// Sets DrainOnClose; main thread.
  void SetDrainOnClose(bool value) { drain_on_close_ = value; }
  /// How long a queue that does not shrink is waited for at BaudRate: 2 s, longer on lines
  /// too slow to move a driver's buffer in that time.
  static qint64 DrainStallMs(Cardinal baudRate);
  /// The status read by the last error-and-status query of the receive step.
  TCOMSTAT ComStat() const { return com_stat_; }
  /// The line settings as held (the control block inside the port configuration).
  const TCOMMCONFIG& CommConfig() const { return comm_config_; }

  /// Baud rate. Every line-property setter applies the whole control block at once when open.
  Cardinal BaudRate() const { return comm_config_.dcb.BaudRate; }
  /// Sets the baud rate; applied at once when open.
  void SetBaudRate(Cardinal value);
  /// Parity.
  TParity Parity() const { return static_cast<TParity>(comm_config_.dcb.Parity); }
  /// Sets the parity (and the parity check with it); applied at once when open.
  void SetParity(TParity value);
  /// Stop bits.
  TStopBits StopBits() const { return static_cast<TStopBits>(comm_config_.dcb.StopBits); }
  /// Sets the stop bits; applied at once when open.
  void SetStopBits(TStopBits value);
  /// Data bits per byte.
  std::uint8_t ByteSize() const { return comm_config_.dcb.ByteSize; }
  /// Sets the data bits: 4 to 8 are kept, anything else becomes 8; applied at once when open.
  void SetByteSize(std::uint8_t value);
  /// The event character of the control block.
  char EventChar() { return GetEventChar(); }
  /// Flow control: none, XON/XOFF or hardware (the default).
  TStreamProtocol StreamProtocol() const { return stream_protocol_; }
  /// Sets the flow control; applied at once when open.
  void SetStreamProtocol(TStreamProtocol value);
  /// RS-485 mode: RTS marks the sending direction (by the driver, or here; see SoftwareRTS).
  bool RS485Mode() const { return rs485_mode_; }
  /// Sets RS-485 mode; applied at once when open.
  void SetRS485Mode(bool value);
  /// Whether closing the port leaves the device's line settings (speed, framing, the
  /// terminal flags) as the open found them, for the next program that uses the device.
  /// True by default; false leaves the settings this component applied.
  bool RestoreOnClose() const { return restore_on_close_; }
  /// Sets RestoreOnClose; takes effect at the next close, also of a port open now.
  void SetRestoreOnClose(bool value);
  /// The RS-485 turn-around delays in ms, 0 and 0 by default: RTS is raised Before ahead of
  /// the first byte of a send and dropped After behind its last. The driver keeps them where
  /// it switches RTS; in software the send waits Before on the sending thread once RTS goes
  /// up, and the delivering thread waits After when the output ran empty.
  Cardinal RS485DelayBefore() const { return rs485_before_ms_; }
  /// See RS485DelayBefore.
  Cardinal RS485DelayAfter() const { return rs485_after_ms_; }
  /// Sets both RS-485 delays; applied at once when open.
  void SetRS485Delays(Cardinal beforeMs, Cardinal afterMs);

  /// Called when the transmit queue has run empty, with tsTxEmpty in TraceStates and the
  /// processor chain not handling it; runs on the delivering thread.
  TOnSent OnAfterSend;
  /// Called with the port events and line changes watched (TraceStates); runs on the delivering
  /// thread, or on the calling thread for a change made by SetDTR, SetRTS or Close.
  TOnTraceEvent OnTraceState;
  /// Called on a line error or a failed write (see CommError); runs on the thread that met it.
  TOnCommErrorEvent OnCommError;

  /// The name of the device the port opens; "Unknown" in this class.
  virtual std::string GetDeviceName() { return "Unknown"; }
  /// Applies the queue sizes, the time-outs and the line settings to the open device (clearing an
  /// error state left from before); nothing when closed.
  virtual void ApplySettings();
  /// Sets the event character; applied at once when open.
  virtual void SetEventChar(char ch);
  /// The event character of the control block.
  virtual char GetEventChar() { return comm_config_.dcb.EvtChar; }
  /// Reports a line error (CommCode = CE_* flags, SysError 0) or a failed write (CommCode 0,
  /// SysError = the system error code): drops RTS in software RS-485 mode, logs it, calls
  /// OnCommError and purges both queues when the handler asks for it. Never raises by itself.
  virtual void CommError(Cardinal commCode, Cardinal sysError, TComStateFlags state);

  /// Closes the port if open, then opens it: applies the settings, starts event delivery (see the
  /// file description) and notifies (code 2). The port opens empty: what its line held from
  /// before (a pseudo-terminal keeps what its far end wrote meanwhile) is discarded. When the
  /// device cannot be opened, LastErrorText holds the message and it is raised as fatal error 1
  /// (Exception, unless OnFatalError cancels it). Main thread.
  void Open() override;
  /// Open for a caller who wants no exception: true when the port is open. Otherwise false,
  /// with the reason in Error (when given): the open message (LastErrorText), or the message
  /// of what the open steps raised. OnFatalError is called as by Open. Main thread.
  bool TryOpen(std::string* error = nullptr);
  /// Closes the port when open: stops event delivery, joining the port thread, purges output still
  /// queued (after letting it leave, with DrainOnClose), releases the device and notifies (code 1);
  /// OnClose is called. Called on the port thread (from a handler), the close is carried out on the
  /// main thread. Never raises.
  void Close() override;
  /// Closes and drops the device.
  void ReleaseHandle(THandle handle) override;
  /// Starts event delivery for the open device: the main thread's event loop, or a port thread (see
  /// UseMainThread).
  void StartThreads() override;
  /// Stops event delivery; a port thread is joined, unless called on it (then it is joined later).
  void StopThreads() override;
  /// As the base; a fatal error only shown, met on a port thread, is shown (and its handler run) on
  /// the main thread, which the port thread waits for.
  void RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg,
                       bool showOnly = false) override;
  /// Sends one byte and waits until it is written. Nothing when closed; a failed write goes to
  /// CommError.
  void SendChar(char ch) override;
  /// Sends S and waits until it is written. Nothing when closed or empty; a failed write goes to
  /// CommError.
  void SendString(const std::string& s) override;
  /// Queues Len bytes from Buffer; the bytes are copied, so the caller may reuse Buffer at once.
  /// Nothing when closed; a failed write goes to CommError.
  void SendData(const void* buffer, Cardinal len) override;
  /// Drops the input queued; nothing when closed.
  void PurgeIn() override;
  /// Drops the output queued (dropping RTS in software RS-485 mode); nothing when closed.
  void PurgeOut() override;
  /// Drops both queues (dropping RTS in software RS-485 mode); nothing when closed.
  void PurgeAll() override;

  /// Looks at the port once (events, line errors, queue counts and the received bytes, in
  /// one step) and handles what happened; runs on the delivering thread. False when the
  /// device failed (it went away): the caller closes the port.
  bool ProcessCommEvent();
  /// The closing steps of Close; also run when the device fails under event delivery.
  void InternalClose(bool purgeOutput);
  /// InternalClose(false) for a device that failed under the port's event loop; an
  /// exception of a handler (OnClose, a notify handler) is reported as a port event's is.
  void CloseOnDeviceFailure();
  /// Updates the indicators from the modem lines and calls OnTraceState with States.
  void TraceStateChanged(TObject* sender, TTraceStates states);
  /// Raises or drops DTR; nothing when closed.
  void SetDTR(bool value);
  /// Raises or drops RTS; nothing when closed.
  void SetRTS(bool value);
  /// The system error code of the last SetDTR, SetRTS or ModemSignals on the open port (on any
  /// thread: software RS-485 switches RTS too), 0 when it worked; EBADF when closed. Those calls
  /// report nothing themselves and pass over a device without modem lines (ENOTTY, a
  /// pseudo-terminal) as if it had them; this tells.
  int LastLineError() const;
  /// Reads exactly Count bytes from the port, as the read time-out allows; true only when
  /// all Count arrived.
  bool ReadBuffer(void* buffer, Cardinal count);
  /// Waits up to TimeoutMs, processing the application's events on the main thread, until Count
  /// bytes are queued; false when they did not come in time or the port is (or gets) closed.
  /// Received-data events are not watched meanwhile.
  bool WaitForInput(Cardinal count, Cardinal timeoutMs);
  /// Waits up to TimeoutMs, processing the application's events on the main thread, until Signal is
  /// on; false when it did not come in time or the port is (or gets) closed.
  bool WaitForModemSignal(TModemSignal signal, Cardinal timeoutMs);
  /// Bytes queued for reading; 0 when closed.
  Cardinal InQueueCount();
  /// Bytes queued for writing (the writer's queue and the kernel's); 0 when closed. Like every
  /// status query it takes the line errors pending.
  Cardinal OutQueueCount() override;
  /// The time-outs: the device's when open, otherwise those held.
  TCOMMTIMEOUTS GetTimeouts();
  /// Sets the time-outs; applied at once when open.
  void SetTimeouts(const TCOMMTIMEOUTS& timeouts);

  /// Rebuilds the control block from the line properties (flow control, RS-485) and applies it when
  /// open.
  void ApplyLineSettings();
  /// Reads the control block from the open device (keeping the held one when the query fails) and
  /// derives StreamProtocol and RS485Mode from it.
  void ReadLineSettings();
  /// Shows the line-settings dialog of the installed UI services for the current settings; when
  /// accepted, the settings are kept and applied at once when open. Main thread.
  void ShowConfigDialog();

  /// The port thread while the port delivers on it (it is both threads), null otherwise.
  TMsgThread* MsgThread() const { return comm_thread_.get(); }
  /// The port thread while the port delivers on it, null otherwise; owned by the component.
  TCommThread* CommThread() const { return comm_thread_.get(); }

 protected:
  /// The error text of the last failed open, for the open message.
  void SetOpenError(const std::string& text) { open_error_text_ = text; }
  /// Opens the port Name names (see vxOpenSerialPort) as the component's device: its handle,
  /// or INVALID_HANDLE_VALUE with the open error kept for the message.
  THandle OpenDevice(const std::string& name);
  /// The open device, or null.
  TvxSerialDevice* Device() const { return device_.get(); }
  /// The line settings held, for a descendant to change (then ApplyLineSettings).
  TCOMMCONFIG& MutableCommConfig() { return comm_config_; }
  /// Sleeps Ms milliseconds in 1 ms steps, processing the application's events.
  void PumpingSleep(Cardinal ms);
  /// Ends port-event delivery and joins the port thread, leaving the port open. Deletion
  /// calls it before any destructor runs (see operator delete), and the destructors of the
  /// serial classes call it first; a descendant need not.
  void StopEventDelivery();

 private:
  class InUse;
  /// True while the calling thread runs inside this component's own work (see operator delete).
  bool InUseHere() const;
  /// The deletion asked for from inside the component's own work; main thread.
  void DeferDeletion();
  /// Keeps Error as the last failure (FailureText, FailureCode).
  void KeepFailure(const TvxSerialError& error);
  /// Keeps Error and reports the failed write (CommError).
  void WriteFailed(const TvxSerialError& error);
  /// The report of a device that went away (ReportDeviceLoss); delivering thread.
  void ReportLoss(const TvxSerialError& error);
  /// Waits, within the write time-outs, until the output queued has left (DrainOnClose), or
  /// until it stopped leaving for DrainStallMs.
  void DrainOutput();
  std::uint32_t EventMask(TTraceStates states) const;
  /// Reports an exception caught in the port's loop (fatal error 1, shown, never raised).
  void ReportEventException(const std::string& message);
  void JoinRetiredThreads();
  void SetMonitor(QObject* monitor, bool checked);
  /// Software RS-485: raises RTS for a send, waiting the delay when it was down.
  void RaiseRtsToSend();
  /// Software RS-485: drops RTS; AfterLastByte (the output ran empty) waits the delay first.
  void DropRtsAfterSend(bool afterLastByte);

  /// Main thread, except where noted.
  std::shared_ptr<TvxSerialDevice> device_;  ///< while open; the port thread uses it too
  std::unique_ptr<TCommThread> comm_thread_;
  std::list<std::unique_ptr<TThread>> retired_;  ///< stopped from their own thread; joined later
  std::unique_ptr<TCommWatcher> watcher_;
  std::unique_ptr<TCommWatcher> retired_watcher_;  ///< stopped from inside its event; freed later
  TCOMSTAT com_stat_;                              ///< delivering thread
  TCOMMTIMEOUTS timeouts_;
  std::string last_error_text_;
  std::string open_error_text_;
  std::atomic<std::uint16_t> trace_states_{0};  ///< written on main, read by the delivering thread
  std::uint16_t buffer_out_size_ = 8192;
  std::uint16_t buffer_in_size_ = 8192;
  std::vector<char> receive_buffer_;  ///< delivering thread while open; freed when no event runs
  std::atomic<int> processing_{0};    ///< port events being handled (nested by a handler's wait)
  bool rs485_mode_ = false;
  bool restore_on_close_ = true;
  bool software_rts_ = true;
  Cardinal rs485_before_ms_ = 0;
  Cardinal rs485_after_ms_ = 0;
  /// Software RS-485: RTS raised by a send and not yet dropped; sending and delivering threads.
  std::atomic<bool> rts_up_to_send_{false};
  QPointer<QObject> monitor_rlsd_, monitor_ring_, monitor_cts_, monitor_dsr_;
  TCOMMCONFIG comm_config_;
  TStreamProtocol stream_protocol_ = spHardware;
  std::atomic<bool> report_device_loss_{false};  ///< written on main, read by the delivering thread
  std::atomic<bool> device_lost_{false};  ///< set by the delivering thread, cleared by Open (main)
  bool drain_on_close_ = false;
  bool deletion_deferred_ = false;
  mutable std::mutex failure_mutex_;  ///< guards failure_: sending and delivering threads
  TvxSerialError failure_;
};

/// The serial port with its identity: the port number, the device list, the connection test, the
/// Plug and Play identification and the saved configuration.
class VXCOMM_EXPORT TvxCustomSerialComm : public TvxCustomComm {
  Q_OBJECT

 public:
  /// Creates a closed port, number 1, owned by Owner.
  explicit TvxCustomSerialComm(QObject* owner = nullptr);
  /// Closes the port.
  ~TvxCustomSerialComm() override;

  /// The number of the port (1 by default).
  std::uint16_t ComPortNo() const { return com_port_no_; }
  /// Closes an open port, takes the number, reopens, and always notifies (code 3).
  void SetComPortNo(std::uint16_t value);
  /// The device the port opens when not empty, in place of the port number's: a device path
  /// (/dev/ttyUSB0, /dev/serial/by-id/...), a name under /dev/serial/by-id, a kernel name
  /// (ttyUSB0) or a COM name, mapped to its device as the port numbers are. Empty by default.
  const std::string& DeviceName() const { return device_name_; }
  /// Closes an open port, takes the name, reopens, and always notifies (code 3), as
  /// SetComPortNo does; an empty name goes back to the port number.
  void SetDeviceName(const std::string& name);
  /// The port as a selector: cpCOM1 to cpCOM8 for numbers 1 to 8, cpCOMxx for any other.
  TComPort ComPort() const;
  /// Sets the port number from a selector (as SetComPortNo); cpCOMxx is ignored.
  void SetComPort(TComPort value);
  /// How the device list is enumerated (epQuickAll by default).
  TvxEnumPorts EnumPorts() const { return enum_ports_; }
  /// Sets how the device list is enumerated; used by the next enumeration.
  void SetEnumPorts(TvxEnumPorts value) { enum_ports_ = value; }

  /// Opens the device GetDeviceName names; INVALID_HANDLE_VALUE, with the reason kept for the open
  /// message, when it cannot.
  THandle OpenHandle() override;
  /// Selects the port of the device at Index (as SetComPortNo); an index outside the list is
  /// ignored.
  void SelectDevice(int index) override;
  /// The index of the port's device in the device list, or -1.
  int GetDeviceIndex() override { return IndexOfDevice(com_port_no_); }
  /// Fills the device list with the serial ports found (see EnumPorts).
  void EnumDevices() override;
  /// Enumerates the devices again and notifies (code 3).
  void RefreshDevices() override;
  /// DeviceName when set; otherwise the port name of the listed device with the port's number, or
  /// "COM" and the number.
  std::string GetDeviceName() override;

  /// Saves the configuration as one 49-byte binary value: port number, control block, time-outs. A
  /// failure is raised as fatal error 1 (Exception, unless OnFatalError cancels it).
  virtual void SaveConfig(HKEY rootKey, const std::string& keyPath, const std::string& valueName);
  /// Loads a configuration saved by SaveConfig and applies it (reopening the port with the number
  /// read). A missing value, or a binary value of another size, leaves everything as it was; a
  /// value that is not binary, or a failed read, is raised as fatal error 1 (Exception, unless
  /// OnFatalError cancels it).
  virtual void LoadConfig(HKEY rootKey, const std::string& keyPath, const std::string& valueName);
  /// Reads the serial Plug and Play identification, "(" ... ")" with its markers, or empty when the
  /// device sends none or the port cannot be opened. Opens the port for the time it takes and
  /// restores the line settings, the events watched and the open state after. A device that does
  /// not answer DTR with DSR is raised as fatal error 1 (Exception, unless OnFatalError cancels
  /// it). Main thread.
  virtual std::string ReadPnPId();
  /// Checks that the device answers DTR with DSR within 200 ms; when it does not, fatal error 1 is
  /// raised (Exception, unless OnFatalError cancels it). Nothing when closed.
  virtual void TestConnection();

 private:
  std::string device_name_;
  std::uint16_t com_port_no_ = 1;
  TvxEnumPorts enum_ports_ = epQuickAll;
};

/// The serial port component with its published properties.
class VXCOMM_EXPORT TvxComm : public TvxCustomSerialComm {
  Q_OBJECT
  Q_PROPERTY(uint BaudRate READ BaudRate WRITE SetBaudRate)
  Q_PROPERTY(int ComPortNo READ QComPortNo WRITE QSetComPortNo)
  Q_PROPERTY(int ByteSize READ QByteSize WRITE QSetByteSize)
  Q_PROPERTY(bool RS485Mode READ RS485Mode WRITE SetRS485Mode)
  Q_PROPERTY(bool RestoreOnClose READ RestoreOnClose WRITE SetRestoreOnClose)
  Q_PROPERTY(uint TimeoutRead READ TimeoutRead WRITE SetTimeoutRead)
  Q_PROPERTY(uint TimeoutWrite READ TimeoutWrite WRITE SetTimeoutWrite)

 public:
  /// Creates a closed port owned by Owner.
  explicit TvxComm(QObject* owner = nullptr) : TvxCustomSerialComm(owner) {}
  /// Ends event delivery first, then closes the port.
  ~TvxComm() override;

 private:
  int QComPortNo() const { return ComPortNo(); }
  void QSetComPortNo(int value) { SetComPortNo(static_cast<std::uint16_t>(value)); }
  int QByteSize() const { return ByteSize(); }
  void QSetByteSize(int value) { SetByteSize(static_cast<std::uint8_t>(value)); }
};

}  // namespace vxcomm
