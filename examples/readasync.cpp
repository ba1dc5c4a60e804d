// Opens a device path at 115200 bits per second, 8 data bits, no parity, one stop bit,
// no flow control, and copies what arrives to standard output until the line goes away.
//   example_readasync DEVICE
#include <QCoreApplication>
#include <cstdio>

#include "vxcomm/vxcomm.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) return std::fprintf(stderr, "usage: example_readasync DEVICE\n"), 2;
  vxcomm::TvxComm port;
  port.SetDeviceName(argv[1]);
  port.SetBaudRate(115200);
  port.SetParity(vxcomm::pNone);
  port.SetStreamProtocol(vxcomm::spNone);
  // Received bytes arrive on the main thread, one block per event of its event loop.
  port.OnAfterReceive = [](vxcomm::TObject*, const void* data, vxcomm::Cardinal len) {
    std::fwrite(data, 1, len, stdout);
    std::fflush(stdout);
  };
  port.OnClose = [](vxcomm::TObject*) { QCoreApplication::quit(); };
  std::string error;
  if (!port.TryOpen(&error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  return app.exec();
}
