// Watches the serial ports: prints the list of ports whenever an adapter comes or goes
// and, given a device, its modem lines (CTS, DSR, carrier, ring) whenever one changes.
//
//   example_linewatch [DEVICE]
#include <QCoreApplication>
#include <cstdio>

#include "vxcomm/vxcomm.h"

using namespace vxcomm;  // this program's own file: the library's names unqualified

void PrintPorts(TvxComm& comm) {
  comm.ClearDevices();
  comm.EnumDevices();
  std::printf("%d port(s):\n", comm.DeviceCount());
  for (int i = 0; i < comm.DeviceCount(); ++i)
    std::printf("  %s\n", comm.GetDevice(i)->DisplayName.c_str());
  std::fflush(stdout);
}

void PrintLines(TvxComm& comm) {
  const TModemSignals s = comm.ModemSignals();
  std::printf("CTS %d  DSR %d  DCD %d  RI %d\n", s.Contains(msCTS), s.Contains(msDSR),
              s.Contains(msRLSD), s.Contains(msRing));
  std::fflush(stdout);
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TvxComm comm;
  comm.SetEnumPorts(epFullPresent);
  PrintPorts(comm);

  // Port changes arrive on the main thread while the subscription lives.
  auto subscription = vxSubscribePortChanges([&comm](const TvxDeviceChange&) { PrintPorts(comm); });

  if (argc > 1) {
    comm.SetDeviceName(argv[1]);
    comm.SetStreamProtocol(spNone);  // the lines are watched, not driven
    // The modem-line events of the port; OnTraceState runs on the main thread.
    comm.SetTraceStates({tsCTS, tsDSR, tsRLSD, tsRing});
    comm.OnTraceState = [&comm](TObject*, TTraceStates) { PrintLines(comm); };
    comm.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
      std::fprintf(stderr, "example_linewatch: %s\n", msg.c_str());
      raise = false;
    };
    comm.SetActive(true);
    if (!comm.Active()) return 1;
    PrintLines(comm);
  }
  return app.exec();
}
