// Opens a device path at 115200 bits per second, writes TEXT and waits until it is written.
// Status 1, with the system's reason, when the open or the write fails.
//   example_writewait DEVICE TEXT
#include <QCoreApplication>
#include <cstdio>

#include "vxcomm/vxcomm.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) return std::fprintf(stderr, "usage: example_writewait DEVICE TEXT\n"), 2;
  vxcomm::TvxComm port;
  port.SetDeviceName(argv[1]);
  port.SetBaudRate(115200);
  port.SetStreamProtocol(vxcomm::spNone);
  std::string error;
  if (!port.TryOpen(&error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  port.SendString(argv[2]);  // returns once the bytes are written (or the write failed)
  if (port.FailureCode() != 0) return std::fprintf(stderr, "%s\n", port.FailureText().c_str()), 1;
}
