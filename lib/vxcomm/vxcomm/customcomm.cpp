#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QVariant>
#include <algorithm>
#include <cerrno>

#include "vxcomm/platform/serialport.h"
#include "vxcomm/rtl/uiservices.h"
#include "vxcomm/vxcomm.h"

namespace vxcomm {

namespace {
// Trace states from tsRxFlag on and the event-mask bits they stand for.
struct TraceBit {
  TTraceState state;
  std::uint32_t event;
};
constexpr TraceBit kTraceBits[] = {
    {tsRxFlag, EV_RXFLAG}, {tsCTS, EV_CTS},       {tsDSR, EV_DSR},   {tsRLSD, EV_RLSD},
    {tsBreak, EV_BREAK},   {tsErr, EV_ERR},       {tsRing, EV_RING}, {tsRx80Full, EV_RX80FULL},
    {tsEvent1, EV_EVENT1}, {tsEvent2, EV_EVENT2},
};

// The message reported for an exception that carries none (one not derived from
// std::exception).
const char* const kUnknownException = "An exception of an unknown type left a port event handler";

bool OnAppThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

// The components whose own work (a port event, a close, a send and the handlers they call)
// runs on this thread now, innermost last. Each thread has its own list.
thread_local std::vector<const TvxCustomComm*> components_at_work;
}  // namespace

// Marks the component as at work on the calling thread for the object's lifetime.
class TvxCustomComm::InUse {
 public:
  explicit InUse(const TvxCustomComm* comm) { components_at_work.push_back(comm); }
  ~InUse() { components_at_work.pop_back(); }
  InUse(const InUse&) = delete;
  InUse& operator=(const InUse&) = delete;
};

bool TvxCustomComm::InUseHere() const {
  return std::find(components_at_work.begin(), components_at_work.end(), this) !=
         components_at_work.end();
}

void TvxCustomComm::operator delete(TvxCustomComm* comm, std::destroying_delete_t) {
  if (comm->InUseHere()) {
    // The work under way still reads the object: it goes when that work is over. A port
    // thread hands the deferral to the main thread, where the component lives.
    TThread* port_thread = vxCurrentPortThread();
    if (port_thread && QCoreApplication::instance())
      port_thread->Synchronize([comm] { comm->DeferDeletion(); });
    else
      comm->DeferDeletion();
    return;
  }
  // No part of the object may go while the port thread still delivers into it.
  comm->StopEventDelivery();
  void* whole = dynamic_cast<void*>(comm);
  comm->~TvxCustomComm();
  ::operator delete(whole);
}

void TvxCustomComm::DeferDeletion() {
  if (deletion_deferred_) return;
  deletion_deferred_ = true;
  const InUse in_use(this);
  // What the destructor does first, now: nothing is delivered to the application after it.
  Destroying();
  SetTerminal(nullptr);
  SetDataProcessor(nullptr);
  OnTraceState = nullptr;
  Close();
  // A parent that goes meanwhile must not delete the object a second time.
  if (thread() == QThread::currentThread()) setParent(nullptr);
  deleteLater();
}

TvxCustomComm::TvxCustomComm(QObject* owner) : TvxBaseIO(owner) {
  timeouts_.WriteTotalTimeoutMultiplier = 100;
  SetUseMainThread(true);
}

TvxCustomComm::~TvxCustomComm() {
  StopEventDelivery();
  Destroying();
  SetTerminal(nullptr);
  SetDataProcessor(nullptr);
  OnTraceState = nullptr;
  Close();
  JoinRetiredThreads();
}

void TvxCustomComm::SetBufferInSize(std::uint16_t value) {
  buffer_in_size_ = value;
  if (device_) device_->SetQueueSizes(buffer_in_size_, buffer_out_size_);
}

void TvxCustomComm::SetBufferOutSize(std::uint16_t value) {
  buffer_out_size_ = value;
  if (device_) device_->SetQueueSizes(buffer_in_size_, buffer_out_size_);
}

Cardinal TvxCustomComm::TimeoutRead() {
  return GetTimeouts().ReadTotalTimeoutMultiplier;
}

void TvxCustomComm::SetTimeoutRead(Cardinal value) {
  TCOMMTIMEOUTS t = timeouts_;
  t.ReadTotalTimeoutMultiplier = value;
  SetTimeouts(t);
}

Cardinal TvxCustomComm::TimeoutWrite() {
  return GetTimeouts().WriteTotalTimeoutMultiplier;
}

void TvxCustomComm::SetTimeoutWrite(Cardinal value) {
  TCOMMTIMEOUTS t = timeouts_;
  t.WriteTotalTimeoutMultiplier = value;
  SetTimeouts(t);
}

TCOMMTIMEOUTS TvxCustomComm::GetTimeouts() {
  if (device_) timeouts_ = device_->Timeouts();
  return timeouts_;
}

void TvxCustomComm::SetTimeouts(const TCOMMTIMEOUTS& timeouts) {
  timeouts_ = timeouts;
  if (device_) device_->SetTimeouts(timeouts_);
}

std::uint32_t TvxCustomComm::EventMask(TTraceStates states) const {
  std::uint32_t mask = EV_RXCHAR;
  if (states.Contains(tsTxEmpty) || (rs485_mode_ && software_rts_)) mask |= EV_TXEMPTY;
  for (const TraceBit& bit : kTraceBits)
    if (states.Contains(bit.state)) mask |= bit.event;
  return mask;
}

void TvxCustomComm::SetTraceStates(TTraceStates value) {
  std::uint32_t mask = EventMask(value);
  trace_states_ = value.ToBits();
  if (device_) device_->SetMask(mask);
}

TModemSignals TvxCustomComm::ModemSignals() {
  TModemSignals lines;
  std::uint32_t status = 0;
  if (!device_ || device_->ModemStatus(status)) return lines;
  if (status & MS_CTS_ON) lines.Include(msCTS);
  if (status & MS_DSR_ON) lines.Include(msDSR);
  if (status & MS_RING_ON) lines.Include(msRing);
  if (status & MS_RLSD_ON) lines.Include(msRLSD);
  return lines;
}

void TvxCustomComm::ApplySettings() {
  if (!device_) return;
  device_->Status();  // clears an error state left from before
  device_->SetQueueSizes(buffer_in_size_, buffer_out_size_);
  device_->SetTimeouts(timeouts_);
  ApplyLineSettings();
}

THandle TvxCustomComm::OpenDevice(const std::string& name) {
  TvxSerialOpen opened = vxOpenSerialPort(name);
  if (!opened.device) {
    open_error_text_ = opened.error.text;
    KeepFailure(opened.error);
    return INVALID_HANDLE_VALUE;
  }
  device_ = std::move(opened.device);
  device_->SetRestoreOnClose(restore_on_close_);
  return device_->Token();
}

void TvxCustomComm::SetRestoreOnClose(bool value) {
  restore_on_close_ = value;
  if (device_) device_->SetRestoreOnClose(value);
}

void TvxCustomComm::ReleaseHandle(THandle) {
  if (!device_) return;
  device_->Close();
  device_.reset();
}

void TvxCustomComm::Open() {
  const InUse in_use(this);
  Close();
  device_lost_ = false;
  TvxBaseIO::Open();
  if (!IsOpen()) {
    last_error_text_ =
        Format("Device \"%s\" Open Error !!!\r%s", {GetDeviceName(), open_error_text_});
    RaiseFatalError(1, 0, last_error_text_, false);
  } else {
    receive_buffer_.assign(std::max<std::size_t>(buffer_in_size_, 8192), 0);
    LogFmt(dlSimple, "The port %s is opened succesfully", {GetDeviceName()});
    ApplySettings();
    SetTraceStates(TraceStates());
    StartThreads();
    Notify(2);
  }
  LogMsg(dlDebug, "TvxCustomComm.Open 2 ...");
}

bool TvxCustomComm::TryOpen(std::string* error) {
  try {
    Open();
  } catch (const std::exception& raised) {
    if (error) *error = raised.what();
    return false;
  }
  if (!IsOpen() && error) *error = last_error_text_;
  return IsOpen();
}

void TvxCustomComm::Close() {
  TThread* port_thread = vxCurrentPortThread();
  if (port_thread && QCoreApplication::instance()) {
    // A handler on a port thread closes through the main thread, where the port lives;
    // the close stops this thread, which only finishes the event it is in.
    port_thread->Synchronize([this] { Close(); });
    return;
  }
  const InUse in_use(this);
  if (IsOpen()) {
    if (drain_on_close_) DrainOutput();
    try {
      InternalClose(true);
      LogMsg(dlSimple, "The port is closed succesfully");
    } catch (...) {
      TvxBaseIO::Close();
    }
  }
  TraceStateChanged(this, {tsTxEmpty});
}

void TvxCustomComm::InternalClose(bool purgeOutput) {
  if (Handle() == INVALID_HANDLE_VALUE) return;
  StopThreads();
  if (purgeOutput && OutQueueCount() > 0) PurgeAll();
  // A handler that closes the port from inside an event still reads the block it got.
  if (processing_ == 0) std::vector<char>().swap(receive_buffer_);
  TvxBaseIO::Close();
  Notify(1);
}

void TvxCustomComm::DrainOutput() {
  Cardinal queued = OutQueueCount();
  if (queued == 0) return;
  const TCOMMTIMEOUTS timeouts = GetTimeouts();
  const qint64 limit_ms = static_cast<qint64>(queued) * timeouts.WriteTotalTimeoutMultiplier +
                          timeouts.WriteTotalTimeoutConstant;
  // A line that takes nothing (flow control held off by a peer that is gone, a pseudo-terminal
  // nobody reads) would hold the close for the whole write time-out, minutes for a large
  // queue: the wait ends once the queue has not shrunk for as long as a driver's buffer
  // takes to leave at the line's speed.
  const qint64 stall_ms = DrainStallMs(BaudRate());
  QElapsedTimer clock, since_moved;
  clock.start();
  since_moved.start();
  // The writer and the kernel send the bytes on their own; nothing here needs events.
  while (clock.elapsed() < limit_ms) {
    const Cardinal now = OutQueueCount();
    if (now == 0) return;
    if (now < queued) {
      queued = now;
      since_moved.restart();
    } else if (since_moved.elapsed() >= stall_ms) {
      LogMsg(dlSimple, "The line took no output for " + std::to_string(stall_ms) +
                           " ms: " + std::to_string(now) + " bytes queued are discarded.");
      return;
    }
    QThread::msleep(1);
  }
}

qint64 TvxCustomComm::DrainStallMs(Cardinal baudRate) {
  // 4 KiB of 10-bit characters: a USB adapter's or a UART driver's buffer leaves in steps of
  // about that at most.
  constexpr qint64 kBufferBits = 4096 * 10;
  constexpr qint64 kLeastMs = 2000;
  if (baudRate == 0) return kLeastMs;
  return std::max(kLeastMs, kBufferBits * 1000 / static_cast<qint64>(baudRate));
}

void TvxCustomComm::StopEventDelivery() {
  StopThreads();
}

void TvxCustomComm::StartThreads() {
  JoinRetiredThreads();
  if (watcher_ || comm_thread_ || !device_) return;
  // The way events are delivered is settled here, for as long as the port stays open: in
  // the main thread's event loop, or on a port thread.
  if (UseMainThread() && OnAppThread()) {
    watcher_ = std::make_unique<TCommWatcher>(this, *device_);
    return;
  }
  comm_thread_ = std::make_unique<TCommThread>(this, *device_);
  comm_thread_->Start();
}

void TvxCustomComm::StopThreads() {
  if (watcher_) {
    watcher_->Stop();
    if (watcher_->InEvent()) retired_watcher_ = std::move(watcher_);
    watcher_.reset();
  }
  if (comm_thread_) {
    comm_thread_->Stop();
    retired_.push_back(std::move(comm_thread_));
  }
  JoinRetiredThreads();
}

void TvxCustomComm::JoinRetiredThreads() {
  // A thread that closes the port itself cannot wait for its own end; it is joined by the
  // next start, close or the destructor.
  for (auto it = retired_.begin(); it != retired_.end();) {
    if ((*it)->IsCurrent()) {
      ++it;
      continue;
    }
    (*it)->WaitFor();
    it = retired_.erase(it);
  }
  if (retired_watcher_ && !retired_watcher_->InEvent()) retired_watcher_.reset();
}

void TvxCustomComm::RaiseFatalError(Cardinal errorCode, Cardinal detail,
                                    const std::string& errorMsg, bool showOnly) {
  TThread* port_thread = vxCurrentPortThread();
  if (showOnly && port_thread && QCoreApplication::instance()) {
    // The display belongs to the main thread; the handler and the log entry go with it.
    // The main thread gets its own copy of the message: a close in the handler releases
    // this thread, whose stack may be gone before the report is over.
    port_thread->Synchronize([this, errorCode, detail, message = errorMsg] {
      const InUse in_use(this);
      TvxBaseIO::RaiseFatalError(errorCode, detail, message, true);
    });
    return;
  }
  TvxBaseIO::RaiseFatalError(errorCode, detail, errorMsg, showOnly);
}

bool TvxCustomComm::ProcessCommEvent() {
  if (!device_) return true;
  const InUse in_use(this);
  ++processing_;
  bool answered = true;
  try {
    // The bytes are taken when someone receives them; otherwise they stay queued in the
    // device for ReadBuffer and WaitForInput.
    const bool take =
        (TraceStates().Contains(tsRxChar) || HasReceiver()) && receive_buffer_.size() > 1;
    // One block at most, with room for the byte the terminal ends it with; more input is
    // the next event's, which the device tells of at once.
    const TvxLineReport report =
        take ? device_->Look(receive_buffer_.data(),
                             static_cast<std::uint32_t>(receive_buffer_.size() - 1))
             : device_->Look(nullptr, 0);
    if (report.failure) {
      answered = false;
      KeepFailure(report.failure);
      device_lost_ = true;
      if (report_device_loss_) ReportLoss(report.failure);
    } else {
      com_stat_ = report.stat;
      if (report.write_failure) KeepFailure(report.write_failure);
      if (report.errors) {
        CommError(report.errors, 0,
                  TComStateFlags::FromBits(static_cast<std::uint8_t>(report.stat.Flags & 0x7F)));
      } else {
        if (report.taken > 0) {
          receive_buffer_[report.taken] = 0;
          DeliverData(receive_buffer_.data(), report.taken);
        }
        if ((report.events & EV_TXEMPTY) && IsOpen()) {
          DropRtsAfterSend(true);
          bool handled = AfterSendHandled();
          if (TraceStates().Contains(tsTxEmpty) && !handled && OnAfterSend) OnAfterSend(this);
        }
        TTraceStates states;
        for (const TraceBit& bit : kTraceBits)
          if (report.events & bit.event) states.Include(bit.state);
        if (!states.Empty()) TraceStateChanged(this, states);
      }
    }
  } catch (const std::exception& error) {
    ReportEventException(error.what());
  } catch (...) {
    ReportEventException(kUnknownException);
  }
  if (--processing_ == 0 && !IsOpen()) std::vector<char>().swap(receive_buffer_);
  return answered;
}

void TvxCustomComm::ReportEventException(const std::string& message) {
  // The report runs the application's OnFatalError and the exception display; what they
  // throw in turn is dropped, so that nothing leaves the port's loop.
  try {
    RaiseFatalError(1, 0, message, true);
  } catch (...) {
  }
}

void TvxCustomComm::ReportLoss(const TvxSerialError& error) {
  CommError(0, static_cast<Cardinal>(error.code), {});
  // A handler may have closed the port (or deleted the component: deferred) meanwhile.
  RaiseFatalError(1, static_cast<Cardinal>(error.code),
                  Format("Device \"%s\" Lost !!!\r%s", {GetDeviceName(), error.text}), true);
}

void TvxCustomComm::KeepFailure(const TvxSerialError& error) {
  std::lock_guard lock(failure_mutex_);
  failure_ = error;
}

std::string TvxCustomComm::FailureText() const {
  std::lock_guard lock(failure_mutex_);
  return failure_.text;
}

int TvxCustomComm::FailureCode() const {
  std::lock_guard lock(failure_mutex_);
  return failure_.code;
}

void TvxCustomComm::WriteFailed(const TvxSerialError& error) {
  KeepFailure(error);
  CommError(0, static_cast<Cardinal>(error.code), {});
}

void TvxCustomComm::CloseOnDeviceFailure() {
  const InUse in_use(this);
  try {
    InternalClose(false);
  } catch (const std::exception& error) {
    ReportEventException(error.what());
  } catch (...) {
    ReportEventException(kUnknownException);
  }
}

void TvxCustomComm::CommError(Cardinal commCode, Cardinal sysError, TComStateFlags state) {
  const InUse in_use(this);
  DropRtsAfterSend(false);
  LogFmt(dlDetail, "Communication Error %d:%d", {commCode, sysError});
  bool flash = false;
  if (OnCommError) OnCommError(this, commCode, sysError, state, flash);
  if (flash) PurgeAll();
}

void TvxCustomComm::SendChar(char ch) {
  if (!device_) return;
  const InUse in_use(this);
  // The argument list is built only for a log that takes it: sends are per packet.
  if (Logs(dlDebug))
    LogFmt(dlDebug, "Try to send char %2Xh ...",
           {static_cast<unsigned>(static_cast<unsigned char>(ch))});
  RaiseRtsToSend();
  if (TvxSerialError error = device_->Write(&ch, 1, true)) WriteFailed(error);
}

void TvxCustomComm::SendString(const std::string& s) {
  if (!device_ || s.empty()) return;
  const InUse in_use(this);
  if (Logs(dlDebug)) LogFmt(dlDebug, "Try to send string %s ...", {s});
  RaiseRtsToSend();
  if (TvxSerialError error = device_->Write(s.data(), static_cast<std::uint32_t>(s.size()), true))
    WriteFailed(error);
}

void TvxCustomComm::SendData(const void* buffer, Cardinal len) {
  if (!device_) return;
  const InUse in_use(this);
  if (Logs(dlDebug)) LogFmt(dlDebug, "Try to send the data with %d length ...", {len});
  RaiseRtsToSend();
  // The layer copies the block, so the caller may reuse it at once.
  if (TvxSerialError error = device_->Write(buffer, len, false))
    WriteFailed(error);
  else
    LogMsg(dlDebug, "... the data transmittion is OK!");
}

void TvxCustomComm::PurgeIn() {
  if (device_) device_->Purge(PURGE_RXABORT | PURGE_RXCLEAR);
}

void TvxCustomComm::PurgeOut() {
  if (!device_) return;
  device_->Purge(PURGE_TXABORT | PURGE_TXCLEAR);
  DropRtsAfterSend(false);
}

void TvxCustomComm::PurgeAll() {
  if (!device_) return;
  device_->Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  DropRtsAfterSend(false);
}

void TvxCustomComm::SetMonitor(QObject* monitor, bool checked) {
  if (!monitor || monitor->metaObject()->indexOfProperty("checked") < 0) return;
  if (monitor->thread() == QThread::currentThread()) {
    monitor->setProperty("checked", QVariant(checked));
    return;
  }
  // A control is set on its own thread, never from a port thread.
  QPointer<QObject> target = monitor;
  QMetaObject::invokeMethod(
      monitor,
      [target, checked] {
        if (target) target->setProperty("checked", QVariant(checked));
      },
      Qt::QueuedConnection);
}

void TvxCustomComm::TraceStateChanged(TObject* sender, TTraceStates states) {
  TModemSignals lines = ModemSignals();
  SetMonitor(monitor_cts_, lines.Contains(msCTS));
  SetMonitor(monitor_dsr_, lines.Contains(msDSR));
  SetMonitor(monitor_rlsd_, lines.Contains(msRLSD));
  // The ring indicator is latched: nothing here sets it back.
  if (states.Contains(tsRing)) SetMonitor(monitor_ring_, true);
  if (OnTraceState) OnTraceState(sender, states);
}

void TvxCustomComm::SetDTR(bool value) {
  if (!device_) return;
  const InUse in_use(this);
  device_->Escape(value ? SETDTR : CLRDTR);
  TraceStateChanged(this, {tsDSR});
}

void TvxCustomComm::SetRTS(bool value) {
  if (!device_) return;
  const InUse in_use(this);
  device_->Escape(value ? SETRTS : CLRRTS);
  TraceStateChanged(this, {tsCTS});
}

void TvxCustomComm::SetRS485Delays(Cardinal beforeMs, Cardinal afterMs) {
  rs485_before_ms_ = beforeMs;
  rs485_after_ms_ = afterMs;
  ApplyLineSettings();
}

void TvxCustomComm::RaiseRtsToSend() {
  if (!rs485_mode_ || !software_rts_) return;
  SetRTS(true);
  // The far end's receiver needs the line turned before the first byte.
  if (!rts_up_to_send_.exchange(true) && rs485_before_ms_ > 0) QThread::msleep(rs485_before_ms_);
}

void TvxCustomComm::DropRtsAfterSend(bool afterLastByte) {
  if (!rs485_mode_ || !software_rts_) return;
  if (afterLastByte && rs485_after_ms_ > 0 && rts_up_to_send_) QThread::msleep(rs485_after_ms_);
  SetRTS(false);
  rts_up_to_send_ = false;
}

int TvxCustomComm::LastLineError() const {
  return device_ ? device_->LastLineCallError() : EBADF;
}

bool TvxCustomComm::ReadBuffer(void* buffer, Cardinal count) {
  if (!device_) return false;
  std::uint32_t done = 0;
  return !device_->Read(buffer, count, done) && done == count;
}

void TvxCustomComm::PumpingSleep(Cardinal ms) {
  QElapsedTimer clock;
  clock.start();
  while (static_cast<Cardinal>(clock.elapsed()) < ms) {
    QThread::msleep(1);
    if (OnAppThread()) QCoreApplication::processEvents();
  }
}

bool TvxCustomComm::WaitForInput(Cardinal count, Cardinal timeoutMs) {
  if (!IsOpen()) return false;
  TTraceStates saved = TraceStates();
  SetTraceStates(TTraceStates(saved).Exclude(tsRxChar));
  QElapsedTimer clock;
  clock.start();
  bool result = false;
  while (static_cast<Cardinal>(clock.elapsed()) <= timeoutMs && IsOpen()) {
    if (InQueueCount() >= count) {
      result = true;
      break;
    }
    QThread::msleep(1);
    if (OnAppThread()) QCoreApplication::processEvents();
  }
  SetTraceStates(saved);
  return result;
}

bool TvxCustomComm::WaitForModemSignal(TModemSignal signal, Cardinal timeoutMs) {
  if (!IsOpen()) return false;
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    if (ModemSignals().Contains(signal)) return true;
    QThread::msleep(1);
    if (OnAppThread()) QCoreApplication::processEvents();
    if (static_cast<Cardinal>(clock.elapsed()) > timeoutMs || !IsOpen()) return false;
  }
}

Cardinal TvxCustomComm::InQueueCount() {
  return device_ ? device_->Status().stat.cbInQue : 0;
}

Cardinal TvxCustomComm::OutQueueCount() {
  return device_ ? device_->Status().stat.cbOutQue : 0;
}

}  // namespace vxcomm
