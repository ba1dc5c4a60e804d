// The line settings of the serial component: the control block's flag-word rules, the
// settings dialog and reading the settings back from the port.
#include "vxcomm/rtl/uiservices.h"
#include "vxcomm/vxcomm.h"

namespace vxcomm {

namespace {
constexpr std::uint32_t kKeptFlags = 0x4CEA;
constexpr std::uint32_t kRS485Pattern = 0x3011;
constexpr std::uint32_t kNonePattern = 0x1011;
constexpr std::uint32_t kXonXoffPattern = 0x1311;
constexpr std::uint32_t kHardwarePattern = 0x2015;

// The dialog's flow choices: none, hardware (RTS/CTS), software (Xon/Xoff).
int FlowOf(TStreamProtocol protocol) {
  return protocol == spHardware ? 1 : protocol == spXonXoff ? 2 : 0;
}
std::uint32_t PatternOfFlow(int flow) {
  return flow == 1 ? kHardwarePattern : flow == 2 ? kXonXoffPattern : kNonePattern;
}
}  // namespace

void TvxCustomComm::SetBaudRate(Cardinal value) {
  comm_config_.dcb.BaudRate = value;
  ApplyLineSettings();
}

void TvxCustomComm::SetParity(TParity value) {
  comm_config_.dcb.Parity = value;
  if (value != pNone)
    comm_config_.dcb.Flags |= dcbflag::Parity;
  else
    comm_config_.dcb.Flags &= ~dcbflag::Parity;
  ApplyLineSettings();
}

void TvxCustomComm::SetStopBits(TStopBits value) {
  comm_config_.dcb.StopBits = value;
  ApplyLineSettings();
}

void TvxCustomComm::SetByteSize(std::uint8_t value) {
  comm_config_.dcb.ByteSize = value >= 4 && value <= 8 ? value : 8;
  ApplyLineSettings();
}

void TvxCustomComm::SetEventChar(char ch) {
  comm_config_.dcb.EvtChar = ch;
  ApplyLineSettings();
}

void TvxCustomComm::SetStreamProtocol(TStreamProtocol value) {
  stream_protocol_ = value;
  ApplyLineSettings();
}

void TvxCustomComm::SetRS485Mode(bool value) {
  rs485_mode_ = value;
  ApplyLineSettings();
}

void TvxCustomComm::ApplyLineSettings() {
  TDCB& dcb = comm_config_.dcb;
  dcb.DCBlength = 28;
  dcb.Flags &= kKeptFlags;
  if (rs485_mode_)
    dcb.Flags |= kRS485Pattern;
  else if (stream_protocol_ == spNone)
    dcb.Flags |= kNonePattern;
  else if (stream_protocol_ == spXonXoff)
    dcb.Flags |= kXonXoffPattern;
  else
    dcb.Flags |= kHardwarePattern;
  dcb.XonLim = 2048;
  dcb.XoffLim = 2048;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  TvxSerialDevice* device = Device();
  if (!Active() || !device) return;
  device->SetRS485Delays(rs485_before_ms_, rs485_after_ms_);
  device->SetState(dcb);
  // RTS is switched here only where the driver does not do RS-485 itself; the event mask
  // follows, since transmit-empty then drops RTS.
  bool software = !device->KernelRS485();
  if (software != software_rts_) {
    software_rts_ = software;
    SetTraceStates(TraceStates());
  }
}

void TvxCustomComm::ReadLineSettings() {
  comm_config_.dwSize = 52;
  comm_config_.dcb.DCBlength = 28;
  if (Active() && Device()) {
    TDCB dcb;
    if (!Device()->GetState(dcb)) comm_config_.dcb = dcb;
  }
  const std::uint32_t flags = comm_config_.dcb.Flags;
  if ((flags & kXonXoffPattern) == kXonXoffPattern)
    stream_protocol_ = spXonXoff;
  else if ((flags & kHardwarePattern) == kHardwarePattern)
    stream_protocol_ = spHardware;
  else
    stream_protocol_ = spNone;
  rs485_mode_ = (flags & kRS485Pattern) == kRS485Pattern;
}

void TvxCustomComm::ShowConfigDialog() {
  ReadLineSettings();
  TDCB& dcb = comm_config_.dcb;
  TvxLineSettings settings;
  settings.BaudRate = dcb.BaudRate;
  settings.DataBits = dcb.ByteSize;
  settings.Parity = dcb.Parity;
  settings.StopBits = dcb.StopBits;
  settings.Flow = FlowOf(stream_protocol_);
  const int flow_before = settings.Flow;
  if (!UIServices().EditLineSettings(GetDeviceName(), settings)) return;
  dcb.BaudRate = settings.BaudRate;
  dcb.ByteSize = static_cast<std::uint8_t>(settings.DataBits);
  dcb.Parity = static_cast<std::uint8_t>(settings.Parity);
  dcb.StopBits = static_cast<std::uint8_t>(settings.StopBits);
  if (settings.Parity != 0)
    dcb.Flags |= dcbflag::Parity;
  else
    dcb.Flags &= ~dcbflag::Parity;
  // An untouched flow choice keeps the block's own flow bits (an RS-485 pattern among them).
  if (settings.Flow != flow_before)
    dcb.Flags = (dcb.Flags & kKeptFlags) | PatternOfFlow(settings.Flow);
  if (Active() && Device()) Device()->SetState(dcb);
  ReadLineSettings();
}

}  // namespace vxcomm
