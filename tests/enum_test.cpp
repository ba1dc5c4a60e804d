// Port enumeration: the name list and its ordering, the two passes over fixture records,
// the Linux sources over a fake sysfs tree and a real port map, and this machine itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/ptypair.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/platform/sysfsports.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxclasses/baseio.h"
#include "vxcomm/vxcomm/enumdevices.h"
#include "vxcomm/vxcomm/portdatabase.h"

namespace fs = std::filesystem;

namespace {

// The test keeps its own configuration store; set before Qt first reads the location.
const bool kOwnStore = [] {
  const char* tmp = std::getenv("VXCOMM_TEST_TMP");
  std::string dir = std::string(tmp ? tmp : "/tmp") + "/enum_test-config";
  fs::create_directories(dir);
  return setenv("XDG_CONFIG_HOME", dir.c_str(), 1) == 0;
}();

TvxDevice Record(const std::string& portName, const std::string& description) {
  TvxDevice d;
  d.PortName = portName;
  d.Description = description;
  d.Service = "svc-" + portName;
  d.DriverKey = "key-" + portName;
  d.Manufacturer = "maker-" + portName;
  d.RegistryKey = "reg-" + portName;
  d.SymbolicName = "sym-" + portName;
  d.InstanceId = "inst-" + portName;
  return d;
}

class FixtureDatabase : public TvxPortDatabase {
 public:
  std::vector<TvxSerialCommValue> SerialCommValues() override { return values; }
  void EnumClassDevices(bool presentOnly, TvxDeviceRecords& records) override {
    ++enumCalls;
    for (const TvxDevice& d : present) records.push_back(std::make_unique<TvxDevice>(d));
    if (!presentOnly)
      for (const TvxDevice& d : absent) records.push_back(std::make_unique<TvxDevice>(d));
  }
  std::vector<TvxSerialCommValue> values;
  std::vector<TvxDevice> present, absent;
  int enumCalls = 0;
};

class ListIO : public TvxBaseIO {
 public:
  ~ListIO() override { Destroying(); }
  int GetDeviceIndex() override { return -1; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (int i = 0; i < DeviceCount(); ++i) names.push_back(GetDevice(i)->DisplayName);
    return names;
  }
};

using Names = std::vector<std::string>;

}  // namespace

TEST(EnumNameList, SerialCommLikeValuesAreOrderedNumberedAndFiltered) {
  TvxPortNameList list;
  ListSerialPorts(list, true,
                  {{"\\Device\\Serial2", "com3"},
                   {"\\Device\\Serial0", "COM1 "},
                   {"\\Device\\SerialX", "COMX"},
                   {"\\Device\\Parallel0", "LPT1"},
                   {"\\Device\\Serial9", "Com1"},
                   {"\\Device\\Serial7", "COM"}});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Text, "COM1=\\Device\\Serial0");
  EXPECT_EQ(list[0].Number, 1);
  EXPECT_EQ(list[1].Name(), "COM3");
  EXPECT_EQ(list[1].Value(), "\\Device\\Serial2");
  ListSerialPorts(list, false, {{"/dev/ttyS1", "COM2"}});
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Text, "COM2");
  EXPECT_EQ(list[0].Value(), "");
}

TEST(EnumNameList, AddSortedByNumberRules) {
  TvxPortNameList list;
  AddSortedByNumber("COM5", 5, list);
  AddSortedByNumber("COM1", 1, list);
  AddSortedByNumber("com5", 5, list);  // the same text ignoring case
  AddSortedByNumber("COM3", 3, list);
  AddSortedByNumber("ALT1", 1, list);  // equal to a smaller one: after it
  AddSortedByNumber("ALT5", 5, list);  // equal to the last: dropped
  std::vector<std::string> texts;
  for (const auto& e : list) texts.push_back(e.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"COM1", "ALT1", "COM3", "COM5"}));
}

TEST(EnumNameList, JoinMultiString) {
  const char ab[] = {'A', 0, 'B', 0, 0};
  EXPECT_EQ(JoinMultiString(ab, 5, ";"), "A;B");
  const char a[] = {'A', 0, 0};
  EXPECT_EQ(JoinMultiString(a, 3, ";"), "A");
  EXPECT_EQ(JoinMultiString(a, 1, ";"), "");
  EXPECT_EQ(JoinMultiString(a, 0, ";"), "");
  EXPECT_EQ(JoinMultiString(nullptr, 5, ";"), "");
  const char three[] = {'x', 0, 'y', 'z', 0, 'w', 0, 0};
  EXPECT_EQ(JoinMultiString(three, 8, ", "), "x, yz, w");
}

TEST(EnumDevices, QuickAllUsesTheNameListOnly) {
  FixtureDatabase db;
  db.values = {
      {"\\Device\\Serial2", "com3"}, {"\\Device\\Serial0", "COM1"}, {"\\Device\\X", "COMX"}};
  db.present = {Record("COM1", "Communications Port")};
  ListIO io;
  vxEnumSerialDevicesFrom(io, epQuickAll, db);
  EXPECT_EQ(db.enumCalls, 0);
  EXPECT_EQ(io.Names(), (Names{"COM1", "COM3"}));
  EXPECT_EQ(io.GetDevice(0)->PortName, "COM1");
  EXPECT_EQ(io.GetDevice(1)->PortName, "COM3");
  EXPECT_EQ(io.GetDevice(0)->DeviceObjectName, "\\Device\\Serial0");
  EXPECT_EQ(io.GetDevice(1)->DeviceObjectName, "\\Device\\Serial2");
  EXPECT_EQ(io.GetDevice(1)->PortNumber, 3);
  EXPECT_EQ(io.GetDevice(1)->Index, 1);
}

TEST(EnumDevices, FullInfoTakesDescriptionsAndUsesEachRecordOnce) {
  FixtureDatabase db;
  db.values = {{"/dev/ttyS0", "COM1"}, {"/dev/ttyS1", "COM2"}};
  db.present = {Record("com1", "Communications Port"),
                Record("LPT1", "Printer Port"),
                Record("CNCA0", "com0com - serial port emulator"),
                Record("CNCB0", "com0com - serial port emulator"),
                Record("COM4096", "Last"),
                Record("COM9", "First of nine"),
                Record("COM9", "Second of nine")};
  db.absent = {Record("COM6", "")};
  ListIO io;
  vxEnumSerialDevicesFrom(io, epFullInfo, db);
  EXPECT_EQ(db.enumCalls, 1);
  EXPECT_EQ(io.Names(), (Names{"COM1 (Communications Port)", "COM2", "COM6", "COM9 (First of nine)",
                               "COM4096 (Last)", "CNCA0 (com0com - serial port emulator)",
                               "CNCB0 (com0com - serial port emulator)"}));
  const TvxDevice* com1 = io.GetDevice(0);
  EXPECT_EQ(com1->ListedName, "COM1");
  EXPECT_EQ(com1->PortName, "com1");  // the record's
  EXPECT_EQ(com1->Service, "svc-com1");
  EXPECT_EQ(com1->DriverKey, "key-com1");
  EXPECT_EQ(com1->Manufacturer, "maker-com1");
  EXPECT_EQ(com1->RegistryKey, "reg-com1");
  EXPECT_EQ(com1->DeviceObjectName, "/dev/ttyS0");
  EXPECT_EQ(com1->SymbolicName, "");  // intermediate fields stay behind
  EXPECT_EQ(com1->InstanceId, "");
  const TvxDevice* com2 = io.GetDevice(1);
  EXPECT_EQ(com2->PortName, "COM2");
  EXPECT_EQ(com2->Description, "");
  EXPECT_EQ(io.GetDevice(2)->DeviceObjectName, "");  // database-only: not in the name list
  EXPECT_EQ(io.GetDevice(5)->PortNumber, 4097);
  EXPECT_EQ(io.GetDevice(6)->PortNumber, 4098);
  EXPECT_EQ(io.GetDevice(5)->PortName, "CNCA0");
}

TEST(EnumDevices, FullPresentLeavesOutListedPortsWithoutAPresentDevice) {
  FixtureDatabase db;
  db.values = {{"/dev/ttyS0", "COM1"}, {"/dev/ttyS1", "COM2"}};
  db.present = {Record("COM1", "Communications Port")};
  db.absent = {Record("COM2", "Placeholder")};
  ListIO present;
  vxEnumSerialDevicesFrom(present, epFullPresent, db);
  EXPECT_EQ(present.Names(), (Names{"COM1 (Communications Port)"}));
  db.absent.clear();
  ListIO info;
  vxEnumSerialDevicesFrom(info, epFullInfo, db);
  EXPECT_EQ(info.Names(), (Names{"COM1 (Communications Port)", "COM2"}));
}

TEST(EnumDevices, DescriptionMatchKeepsTheListedNameToOpen) {
  FixtureDatabase db;
  db.values = {{"/dev/ttyS1", "COM2"}};
  db.present = {Record("", "USB Serial Port (COM2)")};
  ListIO io;
  vxEnumSerialDevicesFrom(io, epFullPresent, db);
  ASSERT_EQ(io.DeviceCount(), 1);
  EXPECT_EQ(io.GetDevice(0)->DisplayName, "COM2 (USB Serial Port (COM2))");
  EXPECT_EQ(io.GetDevice(0)->PortName, "COM2");
}

TEST(EnumDevices, AppendsToAListThatIsNotEmpty) {
  FixtureDatabase db;
  db.values = {{"/dev/ttyS0", "COM1"}, {"/dev/ttyS2", "COM3"}};
  ListIO io;
  vxEnumSerialDevicesFrom(io, epQuickAll, db);
  vxEnumSerialDevicesFrom(io, epQuickAll, db);  // every number is listed: all refused
  EXPECT_EQ(io.Names(), (Names{"COM1", "COM3"}));
}

namespace {

// A sysfs-like tree: ttyS0 with a UART behind the serial core's port device, ttyS1 an 8250
// placeholder, ttyUSB0 a USB adapter, tty0 a console without a device.
struct FakeSysfs {
  fs::path root;
  explicit FakeSysfs(const std::string& dir) : root(dir) {
    fs::path devices = root / "devices", bus = root / "bus", cls = root / "class";
    fs::create_directories(bus / "serial-base/drivers/port");
    fs::create_directories(bus / "platform/drivers/serial8250");
    fs::create_directories(bus / "usb-serial/drivers/ch341-uart");
    fs::create_directories(devices / "serial8250/port0");
    fs::create_directories(devices / "serial8250/port1");
    fs::create_directories(devices / "usb1/ttyUSB0");
    fs::create_symlink(bus / "platform/drivers/serial8250", devices / "serial8250/driver");
    fs::create_symlink(bus / "serial-base/drivers/port", devices / "serial8250/port0/driver");
    fs::create_symlink(bus / "serial-base/drivers/port", devices / "serial8250/port1/driver");
    fs::create_symlink(bus / "usb-serial/drivers/ch341-uart", devices / "usb1/ttyUSB0/driver");
    Tty("ttyS0", devices / "serial8250/port0", "4");
    Tty("ttyS1", devices / "serial8250/port1", "0");
    Tty("ttyUSB0", devices / "usb1/ttyUSB0", "");
    fs::create_directories(cls / "tty0");
  }
  void Tty(const std::string& name, const fs::path& device, const std::string& type) {
    fs::path dir = root / "class" / name;
    fs::create_directories(dir);
    fs::create_symlink(device, dir / "device");
    if (!type.empty()) std::ofstream(dir / "type") << type << "\n";
  }
  std::string ClassDir() const { return (root / "class").string(); }
};

}  // namespace

TEST(EnumLinuxSources, KernelPortsFromSysfs) {
  FakeSysfs sys(MakeTempDir("enum-sysfs"));
  auto ports = vxListKernelPorts(sys.ClassDir(), "/dev");
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].Name, "ttyS0");
  EXPECT_EQ(ports[0].DevNode, "/dev/ttyS0");
  EXPECT_EQ(ports[0].Driver, "serial8250");  // past the serial core's port device
  EXPECT_TRUE(ports[0].Present);
  EXPECT_EQ(ports[1].Name, "ttyS1");
  EXPECT_FALSE(ports[1].Present);  // UART type unknown: a placeholder
  EXPECT_EQ(ports[2].Name, "ttyUSB0");
  EXPECT_EQ(ports[2].Driver, "ch341-uart");
  EXPECT_TRUE(ports[2].Present);
  EXPECT_TRUE(vxListKernelPorts("/nonexistent/class/tty").empty());
}

TEST(EnumLinuxSources, NameListDatabaseAndPortMapTogether) {
  FakeSysfs sys(MakeTempDir("enum-sysfs"));
  PtyPair pty;
  vxWritePortMapping(7, pty.slavePath());
  vxWritePortMapping(8, "/nonexistent/tty");
  vxWritePortMapping(9, "rfc2217://[::1]:2217");  // a port server's port: nothing to look at
  vxWritePortMapping(1, pty.slavePath());         // the map wins over ttyS0 for COM1
  TvxSystemPortDatabase db(sys.ClassDir(), "/dev");

  ListIO quick;
  vxEnumSerialDevicesFrom(quick, epQuickAll, db);
  EXPECT_EQ(quick.Names(), (Names{"COM1", "COM2", "COM7", "COM8", "COM9"}));
  EXPECT_EQ(quick.GetDevice(0)->DeviceObjectName, pty.slavePath());
  EXPECT_EQ(quick.GetDevice(1)->DeviceObjectName, "/dev/ttyS1");

  const std::string mapped = " (mapped to " + pty.slavePath() + ")";
  ListIO present;
  vxEnumSerialDevicesFrom(present, epFullPresent, db);
  const std::string network = " (mapped to rfc2217://[::1]:2217)";
  EXPECT_EQ(present.Names(),
            (Names{"COM1" + mapped, "COM7" + mapped, "COM9" + network, "ttyUSB0"}));
  EXPECT_EQ(vxResolvePortName(present.GetDevice(2)->PortName), "rfc2217://[::1]:2217");
  EXPECT_EQ(present.GetDevice(3)->PortNumber, 4097);
  EXPECT_EQ(present.GetDevice(3)->Service, "ch341-uart");
  EXPECT_EQ(vxResolvePortName(present.GetDevice(3)->PortName), "/dev/ttyUSB0");

  ListIO info;
  vxEnumSerialDevicesFrom(info, epFullInfo, db);
  EXPECT_EQ(info.Names(),
            (Names{"COM1" + mapped, "COM2 (Communications Port)", "COM7" + mapped,
                   "COM8 (mapped to /nonexistent/tty)", "COM9" + network, "ttyUSB0"}));
  EXPECT_EQ(info.GetDevice(1)->Service, "serial8250");
  for (int n : {1, 7, 8, 9}) vxWritePortMapping(n, "");
}

TEST(EnumLinuxSources, ThisMachine) {
  // Whatever ports this machine has (maybe none): the list is ordered and consistent, and
  // the present ports are a part of all the ports.
  ListIO quick, info, present;
  vxEnumSerialDevices(quick, epQuickAll);
  vxEnumSerialDevices(info, epFullInfo);
  vxEnumSerialDevices(present, epFullPresent);
  for (const ListIO* io : {&quick, &info, &present}) {
    for (int i = 0; i < io->DeviceCount(); ++i) {
      const TvxDevice* d = io->GetDevice(i);
      EXPECT_EQ(d->Index, i);
      EXPECT_EQ(d->DisplayName.rfind(d->ListedName, 0), 0u) << d->DisplayName;
      EXPECT_FALSE(d->PortName.empty());
      if (i > 0) {
        EXPECT_LT(io->GetDevice(i - 1)->PortNumber, d->PortNumber);
      }
    }
  }
  auto infoNames = info.Names();
  for (const std::string& name : present.Names())
    EXPECT_NE(std::find(infoNames.begin(), infoNames.end(), name), infoNames.end()) << name;
  EXPECT_LE(present.DeviceCount(), info.DeviceCount());
  for (const std::string& name : info.Names()) std::printf("  found: %s\n", name.c_str());
}
