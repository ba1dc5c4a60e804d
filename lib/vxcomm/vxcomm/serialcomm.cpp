#include <cstring>

#include "vxcomm/vxcomm.h"

namespace vxcomm {

namespace {
constexpr std::size_t kConfigSize = 49;
}  // namespace

TvxCustomSerialComm::TvxCustomSerialComm(QObject* owner) : TvxCustomComm(owner) {
  SetLogPrefix("vxComm: ");
  MutableCommConfig() = TCOMMCONFIG{};  // the layer's default configuration: 9600 8N1 binary
  SetComPort(cpCOM1);
  SetBaudRate(19200);
  SetByteSize(8);
  SetParity(pNone);
  SetStopBits(sbOne);
  SetStreamProtocol(spHardware);
  SetEventChar('\0');
}

TvxCustomSerialComm::~TvxCustomSerialComm() {
  StopEventDelivery();
  Destroying();
  // Closed here, while the port name and the device list are still whole.
  SetTerminal(nullptr);
  SetDataProcessor(nullptr);
  OnTraceState = nullptr;
  Close();
}

TvxComm::~TvxComm() {
  // Event delivery ends before anything else, free notifications included: a processor
  // told that we go away must not be fed from the port thread at the same time.
  StopEventDelivery();
  Destroying();
}

void TvxCustomSerialComm::SetComPortNo(std::uint16_t value) {
  bool was_active = Active();
  SetActive(false);
  com_port_no_ = value;
  SetActive(was_active);
  Notify(3);
}

void TvxCustomSerialComm::SetDeviceName(const std::string& name) {
  bool was_active = Active();
  SetActive(false);
  device_name_ = name;
  SetActive(was_active);
  Notify(3);
}

TComPort TvxCustomSerialComm::ComPort() const {
  // Port 0 has no selector of its own and reads as cpCOMxx, like every unnamed number.
  if (com_port_no_ >= 1 && com_port_no_ <= 8) return static_cast<TComPort>(com_port_no_ - 1);
  return cpCOMxx;
}

void TvxCustomSerialComm::SetComPort(TComPort value) {
  if (value == cpCOMxx) return;
  SetComPortNo(static_cast<std::uint16_t>(value + 1));
}

std::string TvxCustomSerialComm::GetDeviceName() {
  if (!device_name_.empty()) return device_name_;
  if (TvxDevice* device = GetDevice(GetDeviceIndex())) return device->PortName;
  return Format("COM%u", {static_cast<unsigned>(com_port_no_)});
}

THandle TvxCustomSerialComm::OpenHandle() {
  return OpenDevice(GetDeviceName());
}

void TvxCustomSerialComm::SelectDevice(int index) {
  if (index < 0 || index >= DeviceCount()) return;
  SetComPortNo(static_cast<std::uint16_t>(GetDevice(index)->PortNumber & 0xFFFF));
}

void TvxCustomSerialComm::EnumDevices() {
  vxEnumSerialDevices(*this, EnumPorts());
}

void TvxCustomSerialComm::RefreshDevices() {
  ClearDevices();
  GetDeviceList(nullptr);
  TvxCustomComm::RefreshDevices();
}

void TvxCustomSerialComm::SaveConfig(HKEY rootKey, const std::string& keyPath,
                                     const std::string& valueName) {
  bool failed = false;
  try {
    std::string value(kConfigSize, '\0');
    value[0] = static_cast<char>(com_port_no_ & 0xFF);
    std::memcpy(&value[1], &CommConfig().dcb, sizeof(TDCB));
    TCOMMTIMEOUTS timeouts = GetTimeouts();
    std::memcpy(&value[29], &timeouts, sizeof timeouts);
    vxWriteConfigBinary(rootKey, keyPath, valueName, value);
  } catch (...) {
    failed = true;
  }
  if (failed)
    RaiseFatalError(1, 0, "Error on save config information from registry", false);
  else
    LogMsg(dlDetail, "Configuration was saved");
}

void TvxCustomSerialComm::LoadConfig(HKEY rootKey, const std::string& keyPath,
                                     const std::string& valueName) {
  bool failed = false;
  try {
    TvxConfigValue value = vxReadConfigValue(rootKey, keyPath, valueName);
    if (value.kind == TvxConfigValue::NotBinary) throw Exception("not a binary value");
    if (value.kind == TvxConfigValue::Binary && value.data.size() == kConfigSize) {
      SetComPortNo(static_cast<std::uint8_t>(value.data[0]));
      std::memcpy(&MutableCommConfig().dcb, &value.data[1], sizeof(TDCB));
      ApplyLineSettings();
      TCOMMTIMEOUTS timeouts;
      std::memcpy(&timeouts, &value.data[29], sizeof timeouts);
      SetTimeouts(timeouts);
    }
  } catch (...) {
    failed = true;
  }
  if (failed)
    RaiseFatalError(1, 0, "Error on load config information from registry", false);
  else
    LogMsg(dlDetail, "Configuration was loaded");
}

void TvxCustomSerialComm::TestConnection() {
  if (!IsOpen()) return;
  PurgeAll();
  SetDTR(true);
  SetRTS(false);
  if (WaitForModemSignal(msDSR, 200)) {
    SetRTS(true);
    LogMsg(dlDetail, "The device connection was succesful tested");
  } else {
    RaiseFatalError(1, 0, "Device Connect Initialization Error", false);
  }
}

std::string TvxCustomSerialComm::ReadPnPId() {
  std::string result;
  const bool was_active = Active();
  SetActive(true);
  if (!IsOpen()) return result;
  PurgeAll();
  SetDTR(true);
  SetRTS(false);
  if (!WaitForModemSignal(msDSR, 200)) {
    // The open state is restored before the report, so a port closed before stays closed.
    if (!was_active) SetActive(false);
    RaiseFatalError(1, 0, "Device Connect Initialization Error", false);
    return result;
  }
  ApplyLineSettings();
  const TDCB kept = CommConfig().dcb;
  TDCB working = kept;
  working.BaudRate = 1200;
  working.ByteSize = 7;
  working.Parity = 0;
  working.StopBits = 0;
  Device()->SetState(working);
  const TTraceStates saved_states = TraceStates();
  SetTraceStates({});
  auto restore = [&] {
    if (Device()) Device()->SetState(kept);
    SetTraceStates(saved_states);
    SetActive(false);
    SetActive(was_active);
  };
  try {
    SetDTR(false);
    SetRTS(false);
    PumpingSleep(200);
    SetDTR(true);
    PumpingSleep(200);
    SetRTS(true);
    bool answered = WaitForInput(1, 200);
    if (!answered) {
      SetDTR(false);
      SetRTS(false);
      PumpingSleep(200);
      SetDTR(true);
      SetRTS(true);
      answered = WaitForInput(1, 200);
    }
    char first = 0;
    if (answered && ReadBuffer(&first, 1) && (first == 0x28 || first == 0x08)) {
      const char end_marker = first == 0x28 ? 0x29 : 0x09;
      result += first;
      char c = 0;
      while (WaitForInput(1, 200) && ReadBuffer(&c, 1)) {
        result += c;
        if (c == end_marker) break;
      }
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return result;
}

}  // namespace vxcomm
