/// @file
/// The port thread of an open serial port whose events are not delivered on the main
/// thread: it waits on the device's descriptors and has the component handle each event
/// (ProcessCommEvent) on itself, one at a time and in order. It is both the event thread
/// and the message thread of the component.
///
/// Ownership: the component owns the object and joins the thread when the port closes,
/// before the device goes, so the thread never outlives the state it reads. A port that
/// fails under the thread is closed on the main thread (where the component lives) when
/// there is an application object, otherwise on the thread itself.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include "vxcomm/rtl/thread.h"

namespace vxcomm {

class TvxCustomComm;
class TvxSerialDevice;

/// The port thread of a serial component (see the file description).
class VXCOMM_EXPORT TCommThread : public TThread {
 public:
  /// Device is the component's open device; it outlives the thread.
  TCommThread(TvxCustomComm* comm, TvxSerialDevice& device) : comm_(comm), device_(device) {}
  /// Asks the thread to end and joins it.
  ~TCommThread() override { TThread::Stop(); }

  /// Asks the thread to end and wakes its wait. Does not wait.
  void Stop();

 protected:
  /// The thread's body: waits on the device and has the component handle each event, until told to
  /// end or the device fails.
  void Execute() override;

 private:
  void DeviceFailed();

  TvxCustomComm* const comm_;
  TvxSerialDevice& device_;
};

/// The message thread is the port thread itself.
using TMsgThread = TCommThread;

/// The port thread running on the calling thread, or null on any other thread.
VXCOMM_EXPORT TThread* vxCurrentPortThread();

}  // namespace vxcomm
