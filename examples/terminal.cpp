// A minimal terminal: the port's bytes go to standard output, standard input goes to the
// port. Ends at the end of standard input.
//
//   example_terminal [--speed N] [--bits 5..8] [--parity n|o|e|m|s] [--stop 1|2]
//                    [--flow none|xon|rts] DEVICE
#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "vxcomm/vxcomm.h"

using namespace vxcomm;  // this program's own file: the library's names unqualified

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser cli;
  cli.addHelpOption();
  cli.addOptions({{"speed", "Bits per second.", "N", "9600"},
                  {"bits", "Data bits, 5 to 8.", "N", "8"},
                  {"parity", "n, o, e, m or s.", "P", "n"},
                  {"stop", "Stop bits, 1 or 2.", "N", "1"},
                  {"flow", "none, xon or rts.", "F", "none"}});
  cli.addPositionalArgument("device", "The serial device, e.g. /dev/ttyUSB0.");
  cli.process(app);
  if (cli.positionalArguments().size() != 1) cli.showHelp(2);

  TvxComm port;
  port.SetDeviceName(cli.positionalArguments()[0].toStdString());
  port.SetDrainOnClose(true);      // what standard input gave leaves before the close
  port.SetReportDeviceLoss(true);  // a line that goes away is reported, with its reason
  port.SetBaudRate(cli.value("speed").toUInt());
  port.SetByteSize(static_cast<std::uint8_t>(cli.value("bits").toUInt()));
  port.SetParity(static_cast<TParity>(QString("noems").indexOf(cli.value("parity")) & 7));
  port.SetStopBits(cli.value("stop") == "2" ? sbTwo : sbOne);
  const QString flow = cli.value("flow");
  port.SetStreamProtocol(flow == "xon" ? spXonXoff : flow == "rts" ? spHardware : spNone);

  // Received bytes arrive on the main thread, one block per event.
  port.OnAfterReceive = [](TObject*, const void* data, Cardinal len) {
    std::fwrite(data, 1, len, stdout);
    std::fflush(stdout);
  };
  // A port that cannot be opened, or a line that goes away, is reported here instead of thrown.
  port.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    std::fprintf(stderr, "example_terminal: %s\n", msg.c_str());
    raise = false;
    QCoreApplication::exit(1);
  };
  port.OnClose = [](TObject*) { QCoreApplication::exit(1); };
  port.SetActive(true);
  if (!port.Active()) return 1;

  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      input.setEnabled(false);
      port.OnClose = nullptr;
      QCoreApplication::quit();
      return;
    }
    port.SendData(buffer, static_cast<Cardinal>(n));
  });
  const int status = app.exec();
  port.SetActive(false);
  return status;
}
