// Sends files with Kermit to whatever Kermit program receives on the other end of the
// line, and exits 0 when the session ends without an error.
//
//   example_ksend [--speed N] DEVICE FILE...
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "vxcomm/vxcomm.h"
#include "vxcomm/vxkermit.h"

using namespace vxcomm;  // this program's own file: the library's names unqualified

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser cli;
  cli.addHelpOption();
  cli.addOption({"speed", "Bits per second.", "N", "115200"});
  cli.addPositionalArgument("device", "The serial device, e.g. /dev/ttyUSB0.");
  cli.addPositionalArgument("files", "The files (or masks such as *.bin) to send.");
  cli.process(app);
  QStringList args = cli.positionalArguments();
  if (args.size() < 2) cli.showHelp(2);

  TvxComm port;
  port.SetDeviceName(args.takeFirst().toStdString());
  port.SetDrainOnClose(true);      // the last acknowledgement leaves before the close
  port.SetReportDeviceLoss(true);  // a line that goes away is a fatal error, with its reason
  port.SetBaudRate(cli.value("speed").toUInt());
  port.SetStreamProtocol(spNone);

  // The Kermit component is the port's data processor: it sees every received block and
  // sends through the port. Both run on the main thread.
  TvxKermit kermit;
  port.SetDataProcessor(&kermit);
  kermit.SetActive(true);

  int status = 0;
  auto report = [&status](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    std::fprintf(stderr, "example_ksend: %s\n", msg.c_str());
    raise = false;
    status = 1;
    QCoreApplication::exit(1);
  };
  port.OnFatalError = report;
  kermit.OnFatalError = report;
  kermit.OnFileStart = [&kermit](TObject*) {
    std::printf("sending %s\n", kermit.FileName().c_str());
  };
  kermit.OnFileEnd = [&kermit](TObject*) {
    std::printf("  %lld bytes\n", static_cast<long long>(kermit.TotalSize()));
  };
  // Back to listening: the session is over.
  kermit.OnChangeState = [&kermit](TObject*) {
    if (kermit.State() == fsListen) QCoreApplication::quit();
  };

  port.SetActive(true);
  if (status != 0 || !port.Active()) return 1;
  kermit.SendFiles(args.join(',').toStdString());
  if (status == 0 && kermit.State() == fsSend) app.exec();
  port.SetActive(false);
  return status;
}
