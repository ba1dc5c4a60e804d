// Line settings, port identity, the saved configuration, the settings dialog, and what
// only the virtual null-modem can show: modem lines and monitors, line errors, the
// connection test and the Plug and Play identification.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QSettings>
#include <cstring>

#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/serialfixture.h"
#include "support/testlog.h"
#include "support/testui.h"
#include "vxcomm/platform/configscope.h"
#include "vxcomm/platform/serialport.h"
#include "vxcomm/unqualified.h"

namespace {
constexpr std::uint32_t kKept = 0x4CEA;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no exception)";
}
}  // namespace

TEST(LineSettings, DefaultsAndFlagWordRules) {
  TvxComm comm;
  EXPECT_EQ(comm.BaudRate(), 19200u);
  EXPECT_EQ(comm.ByteSize(), 8);
  EXPECT_EQ(comm.Parity(), pNone);
  EXPECT_EQ(comm.StopBits(), sbOne);
  EXPECT_EQ(comm.StreamProtocol(), spHardware);
  EXPECT_EQ(comm.ComPortNo(), 1);
  EXPECT_EQ(comm.ComPort(), cpCOM1);
  EXPECT_EQ(comm.EnumPorts(), epQuickAll);
  EXPECT_TRUE(comm.UseMainThread());
  EXPECT_EQ(comm.TimeoutWrite(), 100u);
  EXPECT_EQ(comm.TimeoutRead(), 0u);
  EXPECT_EQ(comm.BufferInSize(), 8192);
  EXPECT_EQ(comm.LogPrefix(), "vxComm: ");
  const TDCB& dcb = comm.CommConfig().dcb;
  EXPECT_EQ(dcb.Flags & ~kKept, 0x2015u);
  EXPECT_EQ(dcb.XonLim, 2048);
  EXPECT_EQ(dcb.XoffLim, 2048);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(comm.CommConfig().dwSize, 52u);

  comm.SetByteSize(3);
  EXPECT_EQ(comm.ByteSize(), 8);
  comm.SetByteSize(9);
  EXPECT_EQ(comm.ByteSize(), 8);
  comm.SetByteSize(4);
  EXPECT_EQ(comm.ByteSize(), 4);

  comm.SetParity(pMark);
  EXPECT_TRUE(dcb.Flags & dcbflag::Parity);
  EXPECT_EQ(dcb.Parity, 3);
  comm.SetParity(pNone);
  EXPECT_FALSE(dcb.Flags & dcbflag::Parity);
  comm.SetParity(pEven);
  comm.SetBaudRate(57600);  // the next apply keeps the parity flag
  EXPECT_TRUE(dcb.Flags & dcbflag::Parity);

  comm.SetStreamProtocol(spXonXoff);
  EXPECT_EQ(dcb.Flags & ~kKept, 0x1311u);
  comm.ReadLineSettings();
  EXPECT_EQ(comm.StreamProtocol(), spXonXoff);
  comm.SetStreamProtocol(spNone);
  EXPECT_EQ(dcb.Flags & ~kKept, 0x1011u);

  comm.SetStreamProtocol(spHardware);
  comm.SetRS485Mode(true);
  EXPECT_EQ(dcb.Flags & ~kKept, 0x3011u);
  comm.ReadLineSettings();
  EXPECT_EQ(comm.StreamProtocol(), spNone);
  EXPECT_TRUE(comm.RS485Mode());

  comm.SetEventChar('~');
  EXPECT_EQ(comm.EventChar(), '~');
  EXPECT_EQ(dcb.EvtChar, '~');
}

TEST(LineSettings, PortIdentity) {
  TvxComm comm;
  TvxNotifyRecorder notes;
  comm.AddNotifyHandler(notes.Handler());
  comm.SetComPortNo(12);
  EXPECT_EQ(comm.ComPort(), cpCOMxx);
  comm.SetComPort(cpCOMxx);
  EXPECT_EQ(comm.ComPortNo(), 12);
  comm.SetComPort(cpCOM3);
  EXPECT_EQ(comm.ComPortNo(), 3);
  comm.SetComPortNo(3);  // unchanged, still told
  EXPECT_EQ(notes.Codes(), (std::vector<int>{3, 3, 3}));
  comm.SetComPortNo(0);
  EXPECT_EQ(comm.ComPort(), cpCOMxx);

  comm.SetComPortNo(10);
  EXPECT_EQ(comm.GetDeviceName(), "COM10");
  auto* device = new TvxDevice;
  device->PortNumber = 10;
  device->PortName = "/dev/ttyUSB7";
  comm.AddDevice(device);
  EXPECT_EQ(comm.GetDeviceIndex(), 0);
  EXPECT_EQ(comm.GetDeviceName(), "/dev/ttyUSB7");
  auto* other = new TvxDevice;
  other->PortNumber = 20;
  comm.AddDevice(other);
  comm.SelectDevice(1);
  EXPECT_EQ(comm.ComPortNo(), 20);
  comm.SelectDevice(5);
  EXPECT_EQ(comm.ComPortNo(), 20);
  comm.RemoveNotifyHandler(notes.Handler());
}

TEST(LineSettings, ChangingThePortNumberReopensUnderTheNewOne) {
  TvxNullModem modem("/virtual/line-reopen-A", "/virtual/line-reopen-B");
  TvxComm comm;
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(60, modem.Name(0))));
  comm.SetActive(true);
  EXPECT_TRUE(modem.IsOpen(0));
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(61, modem.Name(1))));
  EXPECT_TRUE(comm.Active());
  EXPECT_FALSE(modem.IsOpen(0));
  EXPECT_TRUE(modem.IsOpen(1));
  // Every line setting reaches the open port at once.
  comm.SetBaudRate(115200);
  comm.SetParity(pOdd);
  comm.SetStopBits(sbTwo);
  TDCB line = modem.State(1);
  EXPECT_EQ(line.BaudRate, 115200u);
  EXPECT_EQ(line.Parity, 1);
  EXPECT_EQ(line.StopBits, 2);
  EXPECT_EQ(line.Flags & ~kKept, 0x2015u);
}

TEST(ConfigStore, TheValueRoundTripsAndKeepsItsSize) {
  UsePrivateConfigStore();
  TvxTestLog log;
  TvxComm saved;
  saved.SetLog(&log);
  saved.SetComPortNo(300);
  saved.SetBaudRate(38400);
  saved.SetParity(pSpace);
  saved.SetByteSize(7);
  saved.SetStopBits(sbOneAndHalf);
  saved.SetTimeoutRead(7);
  saved.SetTimeoutWrite(9);
  saved.SaveConfig(HKEY_CURRENT_USER, "Software\\vxTest\\Port", "Config");
  EXPECT_TRUE(log.Has("vxComm: Configuration was saved"));

  TvxConfigValue raw = vxReadConfigValue(HKEY_CURRENT_USER, "Software/vxTest/Port", "Config");
  ASSERT_EQ(raw.kind, TvxConfigValue::Binary);
  ASSERT_EQ(raw.data.size(), 49u);
  EXPECT_EQ(static_cast<unsigned char>(raw.data[0]), 44);  // the low byte of 300
  EXPECT_EQ(std::memcmp(&raw.data[1], &saved.CommConfig().dcb, 28), 0);
  TCOMMTIMEOUTS t;
  std::memcpy(&t, &raw.data[29], 20);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 7u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 9u);

  TvxComm loaded;
  loaded.SetLog(&log);
  loaded.LoadConfig(HKEY_CURRENT_USER, "Software\\vxTest\\Port", "Config");
  EXPECT_TRUE(log.Has("vxComm: Configuration was loaded"));
  EXPECT_EQ(loaded.ComPortNo(), 44);
  EXPECT_EQ(loaded.BaudRate(), 38400u);
  EXPECT_EQ(loaded.Parity(), pSpace);
  EXPECT_EQ(loaded.ByteSize(), 7);
  EXPECT_EQ(loaded.StopBits(), sbOneAndHalf);
  EXPECT_EQ(loaded.TimeoutRead(), 7u);
  EXPECT_EQ(loaded.TimeoutWrite(), 9u);
  EXPECT_EQ(std::memcmp(&loaded.CommConfig().dcb, &saved.CommConfig().dcb, 28), 0);
}

TEST(ConfigStore, WrongSizesAndTypesChangeNothing) {
  UsePrivateConfigStore();
  TvxTestLog log;
  TvxComm comm;
  comm.SetLog(&log);
  vxWriteConfigBinary(HKEY_CURRENT_USER, "Software/vxTest/Short", "Config",
                      std::string(48, '\x05'));
  comm.LoadConfig(HKEY_CURRENT_USER, "Software/vxTest/Short", "Config");
  EXPECT_EQ(comm.ComPortNo(), 1);
  EXPECT_EQ(comm.BaudRate(), 19200u);
  EXPECT_TRUE(log.Has("vxComm: Configuration was loaded"));

  log.ClearLog();
  comm.LoadConfig(HKEY_CURRENT_USER, "Software/vxTest/Missing", "Config");
  EXPECT_TRUE(log.Has("vxComm: Configuration was loaded"));

  {
    auto settings = vxOpenConfigStore(QSettings::UserScope);
    settings->setValue("Software/vxTest/Text/Config", QString(49, 'x'));
  }
  log.ClearLog();
  EXPECT_EQ(ErrorOf([&] { comm.LoadConfig(HKEY_CURRENT_USER, "Software/vxTest/Text", "Config"); }),
            "Error on load config information from registry");
  EXPECT_FALSE(log.Has("vxComm: Configuration was loaded"));
  EXPECT_EQ(ErrorOf([&] { comm.SaveConfig(12345, "Software/vxTest/Bad", "Config"); }),
            "Error on save config information from registry");
  EXPECT_EQ(comm.BaudRate(), 19200u);
}

TEST(ConfigStore, FlowControlComesFromTheCurrentProtocolNotTheStoredBlock) {
  UsePrivateConfigStore();
  TvxComm xon;
  xon.SetStreamProtocol(spXonXoff);
  xon.SaveConfig(HKEY_CURRENT_USER, "Software/vxTest/Flow", "Config");
  TvxComm hardware;
  hardware.LoadConfig(HKEY_CURRENT_USER, "Software/vxTest/Flow", "Config");
  EXPECT_EQ(hardware.CommConfig().dcb.Flags & ~kKept, 0x2015u);
}

TEST(ConfigDialog, CancelChangesNothingAndAcceptApplies) {
  TvxTestUIServices ui;
  TvxNullModem modem("/virtual/line-dialog-A", "/virtual/line-dialog-B");
  TvxComm comm;
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(62, modem.Name(0))));
  comm.ShowConfigDialog();
  ASSERT_EQ(ui.dialogDevices.size(), 1u);
  EXPECT_EQ(ui.dialogDevices[0], "COM62");
  EXPECT_EQ(comm.BaudRate(), 19200u);

  comm.SetActive(true);
  ui.acceptDialog = true;
  ui.dialogAnswer.BaudRate = 4800;
  ui.dialogAnswer.DataBits = 7;
  ui.dialogAnswer.Parity = 2;
  ui.dialogAnswer.StopBits = 2;
  ui.dialogAnswer.Flow = 2;
  comm.ShowConfigDialog();
  EXPECT_EQ(comm.BaudRate(), 4800u);
  EXPECT_EQ(comm.ByteSize(), 7);
  EXPECT_EQ(comm.Parity(), pEven);
  EXPECT_EQ(comm.StopBits(), sbTwo);
  EXPECT_EQ(comm.StreamProtocol(), spXonXoff);
  TDCB line = modem.State(0);
  EXPECT_EQ(line.BaudRate, 4800u);
  EXPECT_EQ(line.Flags & ~kKept, 0x1311u);
}

namespace {
// The component on end A of a null-modem, a raw end B for the test to drive.
class NullModemLine : public ::testing::Test {
 protected:
  void SetUp() override {
    comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(63, modem.Name(0))));
    comm.SetLog(&log);
    comm.OnTraceState = [this](TObject*, TTraceStates s) { traces.push_back(s); };
  }
  void TearDown() override {
    comm.OnTraceState = nullptr;
    comm.SetActive(false);
    if (far) far->Close();
  }
  void OpenFar() {
    far = vxOpenSerialPort(modem.Name(1)).device;
    ASSERT_TRUE(far);
  }
  bool Traced(TTraceState state) {
    for (TTraceStates s : traces)
      if (s.Contains(state)) return true;
    return false;
  }
  TvxNullModem modem{"/virtual/line-A", "/virtual/line-B"};
  TvxTestLog log;
  std::vector<TTraceStates> traces;
  TvxComm comm;
  std::shared_ptr<TvxSerialDevice> far;
};
}  // namespace

TEST_F(NullModemLine, ModemLinesReachSignalsTracesAndMonitors) {
  QCheckBox cts, dsr, rlsd, ring;
  QObject plain;  // no "checked": accepted and left alone
  comm.SetMonitorCTS(&cts);
  comm.SetMonitorDSR(&dsr);
  comm.SetMonitorRLSD(&rlsd);
  comm.SetMonitorRing(&ring);
  comm.SetTraceStates({tsCTS, tsDSR, tsRLSD, tsRing});
  comm.SetActive(true);
  OpenFar();
  EXPECT_TRUE(comm.ModemSignals().Empty());
  traces.clear();
  far->Escape(SETDTR);
  ASSERT_TRUE(WaitUntil([&] { return Traced(tsDSR); }, 5000));
  EXPECT_TRUE(Traced(tsRLSD));
  EXPECT_TRUE(comm.ModemSignals() == (TModemSignals{msDSR, msRLSD}));
  EXPECT_TRUE(dsr.isChecked());
  EXPECT_TRUE(rlsd.isChecked());
  EXPECT_FALSE(cts.isChecked());
  far->Escape(SETRTS);
  ASSERT_TRUE(WaitUntil([&] { return Traced(tsCTS); }, 5000));
  EXPECT_TRUE(cts.isChecked());
  EXPECT_TRUE(comm.WaitForModemSignal(msCTS, 0));

  modem.Ring(0, 20);
  ASSERT_TRUE(WaitUntil([&] { return Traced(tsRing); }, 5000));
  EXPECT_TRUE(ring.isChecked());
  WaitUntil([] { return false; }, 40);
  far->Escape(CLRDTR);
  ASSERT_TRUE(WaitUntil([&] { return !dsr.isChecked(); }, 5000));
  EXPECT_TRUE(ring.isChecked()) << "the ring indicator is latched";
  comm.SetMonitorCTS(&plain);
  comm.SetActive(false);  // lines read off once closed
  EXPECT_FALSE(rlsd.isChecked());
  EXPECT_TRUE(cts.isChecked());  // no longer watched
}

TEST_F(NullModemLine, DtrAndRtsDriveThePeerAndAreTraced) {
  comm.SetActive(true);
  traces.clear();
  comm.SetDTR(false);
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_TRUE(traces[0] == TTraceStates{tsDSR});
  EXPECT_FALSE(modem.Dtr(0));
  comm.SetRTS(false);
  EXPECT_TRUE(traces[1] == TTraceStates{tsCTS});
  EXPECT_FALSE(modem.Rts(0));
  comm.SetDTR(true);
  comm.SetRTS(true);
  EXPECT_TRUE(modem.Dtr(0));
  EXPECT_TRUE(modem.Rts(0));
}

TEST_F(NullModemLine, LineErrorsReachCommErrorAndMayFlushTheBuffers) {
  std::string received;
  comm.OnAfterReceive = [&](TObject*, const void* b, Cardinal n) {
    received.append(static_cast<const char*>(b), n);
  };
  std::vector<Cardinal> codes;
  bool flash = false;
  comm.OnCommError = [&](TObject*, Cardinal code, Cardinal sys, TComStateFlags, bool& flush) {
    EXPECT_EQ(sys, 0u);
    codes.push_back(code);
    flush = flash;
  };
  comm.SetActive(true);
  // Kept: the bytes beside the error arrive afterwards.
  modem.InjectLineError(0, CE_FRAME);
  modem.Feed(0, "kept");
  ASSERT_TRUE(WaitUntil([&] { return received == "kept"; }, 5000)) << received;
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes[0], CE_FRAME);
  EXPECT_TRUE(log.Has("vxComm: Communication Error 8:0"));
  // Flushed: the handler asks for a purge and the bytes are gone.
  flash = true;
  codes.clear();
  received.clear();
  modem.InjectLineError(0, CE_RXPARITY | CE_OVERRUN);
  modem.Feed(0, "gone");
  ASSERT_TRUE(WaitUntil([&] { return !codes.empty(); }, 5000));
  EXPECT_EQ(codes[0], CE_RXPARITY | CE_OVERRUN);
  WaitUntil([] { return false; }, 100);
  EXPECT_EQ(received, "");
  EXPECT_EQ(comm.InQueueCount(), 0u);
  // A break is a line error too, and a trace state when followed.
  comm.SetTraceStates({tsBreak});
  codes.clear();
  modem.InjectBreak(0);
  ASSERT_TRUE(WaitUntil([&] { return !codes.empty(); }, 5000));
  EXPECT_EQ(codes[0], CE_BREAK);
}

TEST_F(NullModemLine, TestConnectionBothWays) {
  comm.TestConnection();  // closed: nothing at all
  EXPECT_TRUE(log.Entries().empty());
  comm.SetActive(true);
  EXPECT_EQ(ErrorOf([&] { comm.TestConnection(); }), "Device Connect Initialization Error");
  EXPECT_TRUE(log.Has("Fatal Error: 1, 0, Device Connect Initialization Error"));
  OpenFar();
  far->Escape(SETDTR);
  EXPECT_EQ(ErrorOf([&] { comm.TestConnection(); }), "(no exception)");
  EXPECT_TRUE(log.Has("vxComm: The device connection was succesful tested"));
  EXPECT_TRUE(modem.Dtr(0));
  EXPECT_TRUE(modem.Rts(0));
}

TEST_F(NullModemLine, ReadPnPIdReturnsTheWholeIdAndRestoresEverything) {
  const std::string id = "(\x01\x24VXC0001\\12345678\\MODEM\\vxModem 2400)";
  modem.AttachPnPDevice(0, id);
  comm.SetTraceStates({tsCTS, tsErr});
  EXPECT_EQ(comm.ReadPnPId(), id);
  EXPECT_EQ(modem.PnPAnswers(), 1);
  EXPECT_FALSE(comm.Active()) << "closed before, closed after";
  EXPECT_TRUE(comm.TraceStates() == (TTraceStates{tsCTS, tsErr}));
  EXPECT_EQ(modem.State(0).BaudRate, 19200u);  // the kept block went back before the close
  EXPECT_EQ(modem.State(0).ByteSize, 8);

  comm.SetActive(true);
  EXPECT_EQ(comm.ReadPnPId(), id);
  EXPECT_TRUE(comm.Active()) << "open before, open after";
  EXPECT_EQ(modem.State(0).BaudRate, 19200u);
}

TEST_F(NullModemLine, ReadPnPIdEmptyResults) {
  // A device whose answer does not start with a marker.
  modem.AttachPnPDevice(0, "XYZ)");
  EXPECT_EQ(comm.ReadPnPId(), "");
  EXPECT_FALSE(comm.Active());
}

TEST_F(NullModemLine, ReadPnPIdWithoutAnswerOrDsr) {
  // No DSR: a fatal error, and a port closed before stays closed.
  EXPECT_EQ(ErrorOf([&] { comm.ReadPnPId(); }), "Device Connect Initialization Error");
  EXPECT_FALSE(comm.Active());
  // DSR but silence through both tries.
  OpenFar();
  far->Escape(SETDTR);
  comm.SetBaudRate(9600);
  EXPECT_EQ(comm.ReadPnPId(), "");
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(comm.BaudRate(), 9600u);
}

TEST_F(NullModemLine, SoftwareRtsFramesEachSendInRs485Mode) {
  comm.SetRS485Mode(true);
  comm.SetActive(true);
  EXPECT_TRUE(comm.SoftwareRTS());  // the virtual line has no kernel RS-485
  OpenFar();
  comm.SendString("frame");
  EXPECT_TRUE(Traced(tsCTS));
  // Transmit-empty drops RTS again once the bytes are out.
  EXPECT_TRUE(WaitUntil([&] { return !modem.Rts(0); }, 5000));
  char buffer[5];
  std::uint32_t done = 0;
  ASSERT_FALSE(far->Read(buffer, 5, done));
  EXPECT_EQ(std::string(buffer, done), "frame");
}

TEST(NullModem, FaultsPacingAndVanishing) {
  TvxNullModem modem("/virtual/faults-A", "/virtual/faults-B");
  std::shared_ptr<TvxSerialDevice> a = vxOpenSerialPort(modem.Name(0)).device;
  std::shared_ptr<TvxSerialDevice> b = vxOpenSerialPort(modem.Name(1)).device;
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  TvxSerialOpen again = vxOpenSerialPort(modem.Name(0));
  EXPECT_FALSE(again.device);
  EXPECT_EQ(again.error.code, EBUSY);
  TCOMMTIMEOUTS immediate;
  immediate.ReadIntervalTimeout = 0xFFFFFFFFu;
  b->SetTimeouts(immediate);

  TvxNullModem::Faults faults;
  faults.dropRate = 0.5;
  modem.SetFaults(0, faults);
  std::string block(2000, 'd');
  a->Write(block.data(), 2000, true);
  char buffer[4096];
  std::uint32_t done = 0;
  b->Read(buffer, sizeof buffer, done);
  EXPECT_GT(done, 800u);
  EXPECT_LT(done, 1200u);

  faults = {};
  faults.duplicateRate = 1;
  modem.SetFaults(0, faults);
  a->Write("ab", 2, true);
  b->Read(buffer, sizeof buffer, done);
  EXPECT_EQ(std::string(buffer, done), "aabb");

  faults = {};
  faults.flipRate = 1;
  modem.SetFaults(0, faults);
  a->Write("\x00", 1, true);
  b->Read(buffer, sizeof buffer, done);
  ASSERT_EQ(done, 1u);
  EXPECT_EQ(__builtin_popcount(static_cast<unsigned char>(buffer[0])), 1);

  modem.SetFaults(0, {});
  modem.SetPacing(true);
  TDCB slow;
  slow.BaudRate = 9600;  // about 1 ms a byte at 8N1
  a->SetState(slow);
  QElapsedTimer clock;
  clock.start();
  a->Write(std::string(50, 'p').data(), 50, true);
  EXPECT_GE(clock.elapsed(), 45);
  b->Read(buffer, sizeof buffer, done);
  EXPECT_EQ(done, 50u);

  modem.Vanish(1);
  EXPECT_EQ(b->Look(buffer, sizeof buffer).failure.code, EIO);
  a->Close();
  b->Close();
}
