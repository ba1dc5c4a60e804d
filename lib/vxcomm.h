// Unit vxcomm: the serial port component.
//
// TvxCustomComm turns the base I/O component into a serial port (open, close, sends, the
// receive step, line errors, modem lines, purges, time-outs and the line settings);
// TvxCustomSerialComm adds the port identity, the connection test, the Plug and Play
// identification and the saved configuration; TvxComm publishes the properties.
//
// Thread: the component belongs to the main thread; properties are set and the port
// opened and closed there. Port events are handled one at a time, in order, on one of two
// roads settled when the port opens: with UseMainThread (the default) and the port opened
// on the main thread, the main thread's event loop watches the port and handles each event
// where it wakes (TCommWatcher); otherwise a port thread waits and handles them itself
// (TCommThread). A change of UseMainThread takes effect at the next open. The
// application's receive, trace, send and error handlers run on that thread; with delivery
// on the port thread, set the handlers, the processor and the terminal before the port
// opens. Close joins the port thread; a Close called on it is carried out on the main
// thread. Whatever a handler throws is caught there and reported (fatal error 1, shown,
// never raised), and delivery goes on.
//
// The port itself is a device object of the serial layer (platform/serialdevice.h) that
// the component holds while the port is open; Handle is a number naming it.
#pragma once

#include "vxcomm_export.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <list>
#include <memory>
#include <vector>

#include "platform/configstore.h"
#include "platform/serialdevice.h"
#include "platform/serialtypes.h"
#include "vxclasses.h"
#include "vxcomm/commthreads.h"
#include "vxcomm/commtypes.h"
#include "vxcomm/commwatcher.h"
#include "vxcomm/portenum.h"

class VXCOMM_EXPORT TvxCustomComm : public TvxBaseIO {
  Q_OBJECT

 public:
  explicit TvxCustomComm(QObject* owner = nullptr);
  ~TvxCustomComm() override;

  // Queue sizes the device is asked for, at once when open: BufferInSize bounds the input
  // the device keeps queued for ReadBuffer (the kernel sizes its own queues). The receive
  // buffer is sized from BufferInSize at each open, at least 8192 bytes.
  std::uint16_t BufferInSize() const { return buffer_in_size_; }
  void SetBufferInSize(std::uint16_t value);
  std::uint16_t BufferOutSize() const { return buffer_out_size_; }
  void SetBufferOutSize(std::uint16_t value);
  // Per-byte read and write time-outs in ms; applied at once when open.
  Cardinal TimeoutRead();
  void SetTimeoutRead(Cardinal value);
  Cardinal TimeoutWrite();
  void SetTimeoutWrite(Cardinal value);
  TTraceStates TraceStates() const { return TTraceStates::FromBits(trace_states_.load()); }
  void SetTraceStates(TTraceStates value);
  // The modem lines now; empty when closed or when the query fails.
  TModemSignals ModemSignals();
  // Indicators: any QObject with a "checked" property; others are accepted and left alone.
  QObject* MonitorCTS() const { return monitor_cts_; }
  void SetMonitorCTS(QObject* value) { monitor_cts_ = value; }
  QObject* MonitorDSR() const { return monitor_dsr_; }
  void SetMonitorDSR(QObject* value) { monitor_dsr_ = value; }
  QObject* MonitorRLSD() const { return monitor_rlsd_; }
  void SetMonitorRLSD(QObject* value) { monitor_rlsd_ = value; }
  QObject* MonitorRing() const { return monitor_ring_; }
  void SetMonitorRing(QObject* value) { monitor_ring_ = value; }
  bool SoftwareRTS() const { return software_rts_; }
  const std::string& LastErrorText() const { return last_error_text_; }
  // The status read by the last error-and-status query of the receive step.
  TCOMSTAT ComStat() const { return com_stat_; }
  // The line settings as held (the control block inside the port configuration).
  const TCOMMCONFIG& CommConfig() const { return comm_config_; }

  // Line properties; every setter applies the whole control block when open.
  Cardinal BaudRate() const { return comm_config_.dcb.BaudRate; }
  void SetBaudRate(Cardinal value);
  TParity Parity() const { return static_cast<TParity>(comm_config_.dcb.Parity); }
  void SetParity(TParity value);
  TStopBits StopBits() const { return static_cast<TStopBits>(comm_config_.dcb.StopBits); }
  void SetStopBits(TStopBits value);
  std::uint8_t ByteSize() const { return comm_config_.dcb.ByteSize; }
  // 4 to 8 are kept, anything else becomes 8.
  void SetByteSize(std::uint8_t value);
  char EventChar() { return GetEventChar(); }
  TStreamProtocol StreamProtocol() const { return stream_protocol_; }
  void SetStreamProtocol(TStreamProtocol value);
  bool RS485Mode() const { return rs485_mode_; }
  void SetRS485Mode(bool value);

  TOnSent OnAfterSend;
  TOnTraceEvent OnTraceState;
  TOnCommErrorEvent OnCommError;

  virtual std::string GetDeviceName() { return "Unknown"; }
  virtual void ApplySettings();
  virtual void SetEventChar(char ch);
  virtual char GetEventChar() { return comm_config_.dcb.EvtChar; }
  virtual void CommError(Cardinal commCode, Cardinal sysError, TComStateFlags state);

  void Open() override;
  void Close() override;
  void ReleaseHandle(THandle handle) override;
  void StartThreads() override;
  void StopThreads() override;
  void RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg,
                       bool showOnly = false) override;
  void SendChar(char ch) override;
  void SendString(const std::string& s) override;
  void SendData(const void* buffer, Cardinal len) override;
  void PurgeIn() override;
  void PurgeOut() override;
  void PurgeAll() override;

  // Looks at the port once (events, line errors, queue counts and the received bytes, in
  // one step) and handles what happened; runs on the delivering thread. False when the
  // device failed (it went away): the caller closes the port.
  bool ProcessCommEvent();
  // The closing steps of Close; also run when the device fails under event delivery.
  void InternalClose(bool purgeOutput);
  // InternalClose(false) for a device that failed under the port's event loop; an
  // exception of a handler (OnClose, a notify handler) is reported as a port event's is.
  void CloseOnDeviceFailure();
  void TraceStateChanged(TObject* sender, TTraceStates states);
  void SetDTR(bool value);
  void SetRTS(bool value);
  // Reads exactly Count bytes from the port, as the read time-out allows; true only when
  // all Count arrived.
  bool ReadBuffer(void* buffer, Cardinal count);
  // Waits, processing the application's events, until Count bytes are queued.
  bool WaitForInput(Cardinal count, Cardinal timeoutMs);
  bool WaitForModemSignal(TModemSignal signal, Cardinal timeoutMs);
  Cardinal InQueueCount();
  Cardinal OutQueueCount();
  TCOMMTIMEOUTS GetTimeouts();
  void SetTimeouts(const TCOMMTIMEOUTS& timeouts);

  void ApplyLineSettings();
  void ReadLineSettings();
  // The line-settings dialog of the installed UI services; applied when accepted.
  void ShowConfigDialog();

  // The port thread while the port delivers on it (it is both threads), null otherwise.
  TMsgThread* MsgThread() const { return comm_thread_.get(); }
  TCommThread* CommThread() const { return comm_thread_.get(); }

 protected:
  // The error text of the last failed open, for the open message.
  void SetOpenError(const std::string& text) { open_error_text_ = text; }
  // Opens the port Name names (see vxOpenSerialPort) as the component's device: its handle,
  // or INVALID_HANDLE_VALUE with the open error kept for the message.
  THandle OpenDevice(const std::string& name);
  // The open device, or null.
  TvxSerialDevice* Device() const { return device_.get(); }
  TCOMMCONFIG& MutableCommConfig() { return comm_config_; }
  // Sleeps Ms milliseconds in 1 ms steps, processing the application's events.
  void PumpingSleep(Cardinal ms);
  // Ends port-event delivery and joins the port thread, leaving the port open. The
  // most-derived destructor calls it first, before any part of the object goes.
  void StopEventDelivery();

 private:
  std::uint32_t EventMask(TTraceStates states) const;
  // Reports an exception caught in the port's loop (fatal error 1, shown, never raised).
  void ReportEventException(const std::string& message);
  void JoinRetiredThreads();
  void SetMonitor(QObject* monitor, bool checked);

  // Main thread, except where noted.
  std::shared_ptr<TvxSerialDevice> device_;  // while open; the port thread uses it too
  std::unique_ptr<TCommThread> comm_thread_;
  std::list<std::unique_ptr<TThread>> retired_;  // stopped from their own thread; joined later
  std::unique_ptr<TCommWatcher> watcher_;
  std::unique_ptr<TCommWatcher> retired_watcher_;  // stopped from inside its event; freed later
  TCOMSTAT com_stat_;                              // delivering thread
  TCOMMTIMEOUTS timeouts_;
  std::string last_error_text_;
  std::string open_error_text_;
  std::atomic<std::uint16_t> trace_states_{0};  // written on main, read by the delivering thread
  std::uint16_t buffer_out_size_ = 8192;
  std::uint16_t buffer_in_size_ = 8192;
  std::vector<char> receive_buffer_;  // delivering thread while open; freed when no event runs
  std::atomic<int> processing_{0};    // port events being handled (nested by a handler's wait)
  bool rs485_mode_ = false;
  bool software_rts_ = true;
  QPointer<QObject> monitor_rlsd_, monitor_ring_, monitor_cts_, monitor_dsr_;
  TCOMMCONFIG comm_config_;
  TStreamProtocol stream_protocol_ = spHardware;
};

class VXCOMM_EXPORT TvxCustomSerialComm : public TvxCustomComm {
  Q_OBJECT

 public:
  explicit TvxCustomSerialComm(QObject* owner = nullptr);
  ~TvxCustomSerialComm() override;

  std::uint16_t ComPortNo() const { return com_port_no_; }
  // Closes an open port, takes the number, reopens, and always notifies (code 3).
  void SetComPortNo(std::uint16_t value);
  TComPort ComPort() const;
  void SetComPort(TComPort value);
  TvxEnumPorts EnumPorts() const { return enum_ports_; }
  void SetEnumPorts(TvxEnumPorts value) { enum_ports_ = value; }

  THandle OpenHandle() override;
  void SelectDevice(int index) override;
  int GetDeviceIndex() override { return IndexOfDevice(com_port_no_); }
  void EnumDevices() override;
  void RefreshDevices() override;
  std::string GetDeviceName() override;

  // The configuration as one 49-byte binary value: port number, control block, time-outs.
  virtual void SaveConfig(HKEY rootKey, const std::string& keyPath, const std::string& valueName);
  virtual void LoadConfig(HKEY rootKey, const std::string& keyPath, const std::string& valueName);
  // The serial Plug and Play identification, "(" ... ")" with its markers, or empty.
  virtual std::string ReadPnPId();
  // Checks that the device answers DTR with DSR; a fatal error when it does not.
  virtual void TestConnection();

 private:
  std::uint16_t com_port_no_ = 1;
  TvxEnumPorts enum_ports_ = epQuickAll;
};

class VXCOMM_EXPORT TvxComm : public TvxCustomSerialComm {
  Q_OBJECT
  Q_PROPERTY(uint BaudRate READ BaudRate WRITE SetBaudRate)
  Q_PROPERTY(int ComPortNo READ QComPortNo WRITE QSetComPortNo)
  Q_PROPERTY(int ByteSize READ QByteSize WRITE QSetByteSize)
  Q_PROPERTY(bool RS485Mode READ RS485Mode WRITE SetRS485Mode)
  Q_PROPERTY(uint TimeoutRead READ TimeoutRead WRITE SetTimeoutRead)
  Q_PROPERTY(uint TimeoutWrite READ TimeoutWrite WRITE SetTimeoutWrite)

 public:
  explicit TvxComm(QObject* owner = nullptr) : TvxCustomSerialComm(owner) {}
  ~TvxComm() override;

 private:
  int QComPortNo() const { return ComPortNo(); }
  void QSetComPortNo(int value) { SetComPortNo(static_cast<std::uint16_t>(value)); }
  int QByteSize() const { return ByteSize(); }
  void QSetByteSize(int value) { SetByteSize(static_cast<std::uint8_t>(value)); }
};
