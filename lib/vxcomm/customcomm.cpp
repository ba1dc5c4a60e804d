#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QVariant>
#include <algorithm>

#include "platform/debugout.h"
#include "platform/serialport.h"
#include "rtl/uiservices.h"
#include "vxcomm.h"

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

bool OnAppThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}
}  // namespace

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
  if (IsOpen()) vxGetCommTimeouts(Handle(), timeouts_);
  return timeouts_;
}

void TvxCustomComm::SetTimeouts(const TCOMMTIMEOUTS& timeouts) {
  timeouts_ = timeouts;
  if (IsOpen()) vxSetCommTimeouts(Handle(), timeouts_);
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
  if (IsOpen()) {
    // Mask 0 ends the pending wait; the event thread waits again under the new mask.
    vxSetCommMask(Handle(), 0);
    vxSetCommMask(Handle(), mask);
  }
}

TModemSignals TvxCustomComm::ModemSignals() {
  TModemSignals lines;
  std::uint32_t status = 0;
  if (!IsOpen() || !vxGetCommModemStatus(Handle(), status)) return lines;
  if (status & MS_CTS_ON) lines.Include(msCTS);
  if (status & MS_DSR_ON) lines.Include(msDSR);
  if (status & MS_RING_ON) lines.Include(msRing);
  if (status & MS_RLSD_ON) lines.Include(msRLSD);
  return lines;
}

void TvxCustomComm::ApplySettings() {
  std::uint32_t errors = 0;
  vxClearCommError(Handle(), errors, nullptr);
  vxSetCommTimeouts(Handle(), timeouts_);
  ApplyLineSettings();
}

void TvxCustomComm::ReleaseHandle(THandle handle) {
  vxSerialClose(handle);
}

void TvxCustomComm::Open() {
  Close();
  TvxBaseIO::Open();
  if (!IsOpen()) {
    last_error_text_ = Format("Device \"%s\" Open Error !!!\r%s",
                              {GetDeviceName(), vxSerialErrorText(open_error_, open_path_)});
    RaiseFatalError(1, 0, last_error_text_, false);
  } else {
    receive_buffer_.assign(std::max<std::size_t>(buffer_in_size_, 8192), 0);
    LogFmt(dlSimple, "The port %s is opened succesfully", {GetDeviceName()});
    ApplySettings();
    SetTraceStates(TraceStates());
    StartThreads();
    Notify(2);
  }
  vxOutputDebugString("TvxCustomComm.Open 2 ...");
}

void TvxCustomComm::Close() {
  TThread* port_thread = vxCurrentPortThread();
  if (port_thread && QCoreApplication::instance()) {
    // A handler on a port thread closes through the main thread, where the port lives;
    // the close stops this thread, which only finishes the event it is in.
    port_thread->Synchronize([this] { Close(); });
    return;
  }
  if (IsOpen()) {
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
  vxSetCommMask(Handle(), 0);
  StopThreads();
  if (purgeOutput && OutQueueCount() > 0) PurgeAll();
  // A handler that closes the port from inside an event still reads the block it got.
  if (processing_ == 0) std::vector<char>().swap(receive_buffer_);
  TvxBaseIO::Close();
  Notify(1);
}

void TvxCustomComm::StopEventDelivery() {
  if (IsOpen()) vxSetCommMask(Handle(), 0);
  StopThreads();
}

void TvxCustomComm::StartThreads() {
  JoinRetiredThreads();
  const TvxEventFds fds =
      UseMainThread() && OnAppThread() ? vxCommEventFds(Handle()) : TvxEventFds{};
  if (fds.input >= 0 && fds.wake >= 0) {
    if (!watcher_) watcher_ = std::make_unique<TCommWatcher>(this, Handle(), fds);
    return;
  }
  if (!msg_thread_) {
    msg_thread_ = std::make_unique<TMsgThread>(this);
    msg_thread_->Start();
  }
  if (!comm_thread_) {
    comm_thread_ = std::make_unique<TCommThread>(this, Handle(), msg_thread_.get());
    comm_thread_->Start();
  }
}

void TvxCustomComm::StopThreads() {
  if (watcher_) {
    watcher_->Stop();
    if (watcher_->InEvent()) retired_watcher_ = std::move(watcher_);
    watcher_.reset();
  }
  // The event thread goes first, so that nothing posts to a stopped message thread.
  if (comm_thread_) {
    comm_thread_->Stop();
    retired_.push_back(std::move(comm_thread_));
  }
  if (msg_thread_) {
    msg_thread_->Stop();
    retired_.push_back(std::move(msg_thread_));
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
    port_thread->Synchronize(
        [&] { TvxBaseIO::RaiseFatalError(errorCode, detail, errorMsg, true); });
    return;
  }
  TvxBaseIO::RaiseFatalError(errorCode, detail, errorMsg, showOnly);
}

void TvxCustomComm::ProcessCommEvent(const TvxCommMsg& msg) {
  if (msg.Message != vxCommMsgComEvent()) return;
  ++processing_;
  try {
    std::uint32_t errors = 0;
    TCOMSTAT stat;
    // When the query itself fails the event is ignored.
    if (vxClearCommError(Handle(), errors, &stat)) {
      com_stat_ = stat;
      if (errors) {
        CommError(errors, 0,
                  TComStateFlags::FromBits(static_cast<std::uint8_t>(stat.Flags & 0x7F)));
      } else {
        const std::uint32_t mask = msg.WParam;
        if ((mask & EV_RXCHAR) && stat.cbInQue > 0 &&
            (TraceStates().Contains(tsRxChar) || HasReceiver()))
          ReceiveQueued(stat.cbInQue);
        if ((mask & EV_TXEMPTY) && IsOpen()) {
          if (rs485_mode_ && software_rts_) SetRTS(false);
          bool handled = AfterSendHandled();
          if (TraceStates().Contains(tsTxEmpty) && !handled && OnAfterSend) OnAfterSend(this);
        }
        TTraceStates states;
        for (const TraceBit& bit : kTraceBits)
          if (mask & bit.event) states.Include(bit.state);
        if (!states.Empty()) TraceStateChanged(this, states);
      }
    }
  } catch (const std::exception& error) {
    RaiseFatalError(1, static_cast<Cardinal>(vxSerialLastError()), error.what(), true);
  }
  if (--processing_ == 0 && !IsOpen()) std::vector<char>().swap(receive_buffer_);
}

void TvxCustomComm::ReceiveQueued(Cardinal queued) {
  // Everything queued is taken in blocks that leave room for the terminal's end byte;
  // nothing is written past the buffer and nothing is left for an event that may not
  // come. Under the port threads bytes that arrive meanwhile are taken too, up to a bound,
  // which saves a hand-over per block while data streams in; a port the main loop watches
  // gets its next event as cheaply as that look.
  constexpr Cardinal kMaxPerEvent = 1u << 18;
  const bool look_again = !watcher_;
  Cardinal taken = 0;
  while (queued > 0 && IsOpen() && receive_buffer_.size() > 1) {
    Cardinal n = std::min<Cardinal>(queued, static_cast<Cardinal>(receive_buffer_.size() - 1));
    std::uint32_t got = 0;
    if (!vxReadComm(Handle(), receive_buffer_.data(), n, &got) || got == 0) return;
    receive_buffer_[got] = 0;
    DeliverData(receive_buffer_.data(), got);
    taken += got;
    queued -= std::min(queued, got);
    if (queued == 0 && look_again && taken < kMaxPerEvent && IsOpen()) {
      std::uint32_t errors = 0;
      TCOMSTAT stat;
      if (!vxClearCommError(Handle(), errors, &stat)) return;
      com_stat_ = stat;
      if (errors) {
        CommError(errors, 0,
                  TComStateFlags::FromBits(static_cast<std::uint8_t>(stat.Flags & 0x7F)));
        return;
      }
      queued = stat.cbInQue;
    }
  }
}

void TvxCustomComm::CommError(Cardinal commCode, Cardinal sysError, TComStateFlags state) {
  if (rs485_mode_ && software_rts_) SetRTS(false);
  LogFmt(dlDetail, "Communication Error %d:%d", {commCode, sysError});
  bool flash = false;
  if (OnCommError) OnCommError(this, commCode, sysError, state, flash);
  if (flash) PurgeAll();
}

void TvxCustomComm::SendChar(char ch) {
  if (!IsOpen()) return;
  // The argument list is built only for a log that takes it: sends are per packet.
  if (Logs(dlDebug))
    LogFmt(dlDebug, "Try to send char %2Xh ...",
           {static_cast<unsigned>(static_cast<unsigned char>(ch))});
  if (rs485_mode_ && software_rts_) SetRTS(true);
  if (!vxWriteComm(Handle(), &ch, 1, true))
    CommError(0, static_cast<Cardinal>(vxSerialLastError()), {});
}

void TvxCustomComm::SendString(const std::string& s) {
  if (!IsOpen() || s.empty()) return;
  if (Logs(dlDebug)) LogFmt(dlDebug, "Try to send string %s ...", {s});
  if (rs485_mode_ && software_rts_) SetRTS(true);
  if (!vxWriteComm(Handle(), s.data(), static_cast<std::uint32_t>(s.size()), true))
    CommError(0, static_cast<Cardinal>(vxSerialLastError()), {});
}

void TvxCustomComm::SendData(const void* buffer, Cardinal len) {
  if (!IsOpen()) return;
  if (Logs(dlDebug)) LogFmt(dlDebug, "Try to send the data with %d length ...", {len});
  if (rs485_mode_ && software_rts_) SetRTS(true);
  // The layer copies the block, so the caller may reuse it at once.
  if (vxWriteComm(Handle(), buffer, len, false))
    LogMsg(dlDebug, "... the data transmittion is OK!");
  else
    CommError(0, static_cast<Cardinal>(vxSerialLastError()), {});
}

void TvxCustomComm::PurgeIn() {
  if (IsOpen()) vxPurgeComm(Handle(), PURGE_RXABORT | PURGE_RXCLEAR);
}

void TvxCustomComm::PurgeOut() {
  if (!IsOpen()) return;
  vxPurgeComm(Handle(), PURGE_TXABORT | PURGE_TXCLEAR);
  if (rs485_mode_ && software_rts_) SetRTS(false);
}

void TvxCustomComm::PurgeAll() {
  if (!IsOpen()) return;
  vxPurgeComm(Handle(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  if (rs485_mode_ && software_rts_) SetRTS(false);
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
  if (!IsOpen()) return;
  vxEscapeCommFunction(Handle(), value ? SETDTR : CLRDTR);
  TraceStateChanged(this, {tsDSR});
}

void TvxCustomComm::SetRTS(bool value) {
  if (!IsOpen()) return;
  vxEscapeCommFunction(Handle(), value ? SETRTS : CLRRTS);
  TraceStateChanged(this, {tsCTS});
}

bool TvxCustomComm::ReadBuffer(void* buffer, Cardinal count) {
  if (!IsOpen()) return false;
  std::uint32_t done = 0;
  return vxReadComm(Handle(), buffer, count, &done) && done == count;
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
  std::uint32_t errors = 0;
  TCOMSTAT stat;
  return IsOpen() && vxClearCommError(Handle(), errors, &stat) ? stat.cbInQue : 0;
}

Cardinal TvxCustomComm::OutQueueCount() {
  std::uint32_t errors = 0;
  TCOMSTAT stat;
  return IsOpen() && vxClearCommError(Handle(), errors, &stat) ? stat.cbOutQue : 0;
}
