// vxbridge: a serial port (a network port above all: rfc2217://HOST:PORT) made to look like a
// local one: a pseudo-terminal whose bytes travel to and from the port, and whose speed, stop
// bits and flow control, set by any program that opens it, are set on the port.
//
// Thread: everything runs on the main thread; the serial component hands its port events to it.
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "bridge/ptybridge.h"
#include "commandline.h"
#include "lineoptions.h"
#include "signalcatch.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

namespace {

const char* kDescription =
    "Makes a serial port appear as a local pseudo-terminal.\n"
    "\n"
    "  vxbridge [options] DEVICE\n"
    "\n"
    "DEVICE is most often a network port: rfc2217://HOST:PORT (a port server that lets its\n"
    "client set the line) or tcp://HOST:PORT (bytes only); a device path or a port name\n"
    "(COM1) works too. The pseudo-terminal's path is printed on the first line of standard\n"
    "output (and linked from --link). Any program opens it as a serial line: what it writes\n"
    "goes out on the port, what the port receives it reads, and the speed, stop bits and\n"
    "flow control it sets are set on the port before the bytes it writes after them. A\n"
    "pseudo-terminal keeps no data bits or parity (it always reads 8 bits without parity):\n"
    "those stay as --data-bits and --parity set them. It has no modem lines and no break\n"
    "either: RTS stays raised on the port, DTR drops only while the program sets speed 0\n"
    "(a hang-up), and a break sent on the pseudo-terminal goes nowhere. Over tcp:// the\n"
    "settings stay local: the port server keeps its own.\n"
    "\n"
    "The line starts at the options' settings (115200 8N1 without flow control by\n"
    "default). vxbridge runs until it is interrupted or the port goes away (status 1).\n";

int Usage(const QCommandLineParser& parser, const QString& error) {
  return UsageError("vxbridge", parser, error);
}

void Say(const std::string& text) {
  std::cerr << "vxbridge: " << text << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("vxbridge");
  QCoreApplication::setApplicationVersion(VXCOMM_VERSION);
  QCommandLineParser parser;
  const TLineOptions shared;
  const QCommandLineOption link("link",
                                "Also make PATH a symbolic link to the pseudo-terminal (PATH "
                                "must not exist; it is removed at the end).",
                                "PATH");
  const QString badLine =
      ParseProgramLine(parser, kDescription, shared.Line() << link,
                       {{"DEVICE", "the port: rfc2217://HOST:PORT, tcp://HOST:PORT, a path"}});
  if (!badLine.isEmpty()) return Usage(parser, badLine);
  const QStringList args = parser.positionalArguments();
  if (args.size() != 1) return Usage(parser, "one device is needed");
  TLineSettings line;
  if (const std::string bad = shared.ReadLine(parser, line); !bad.empty())
    return Usage(parser, QString::fromStdString(bad));
  const std::string linkPath = parser.value(link).toStdString();
  if (!linkPath.empty() && ::access(linkPath.c_str(), F_OK) == 0)
    return Usage(parser, QString::fromStdString(linkPath + " exists"));

  TvxComm port;
  port.SetDeviceName(args[0].toStdString());
  port.SetReportDeviceLoss(true);
  port.SetDrainOnClose(true);
  ApplyLineSettings(port, line);
  std::string why;
  if (!port.TryOpen(&why)) {
    Say("cannot open " + args[0].toStdString() + ": " + why);
    return 2;
  }
  port.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    Say(msg);
    QCoreApplication::exit(1);
  };
  port.OnClose = [&](TObject*) {
    Say(args[0].toStdString() + " closed" +
        (port.FailureText().empty() ? std::string() : ": " + port.FailureText()));
    QCoreApplication::exit(1);
  };

  std::unique_ptr<vxbridge::TPtyBridge> bridge;
  try {
    bridge = std::make_unique<vxbridge::TPtyBridge>(port, Say);
  } catch (const std::runtime_error& e) {
    Say(e.what());
    return 1;
  }
  if (!linkPath.empty() && ::symlink(bridge->SlavePath().c_str(), linkPath.c_str()) != 0) {
    Say("cannot link " + linkPath + ": " + std::strerror(errno));
    return 2;
  }
  std::cout << bridge->SlavePath() << std::endl;

  const TSignalCatcher signalCatcher({SIGINT, SIGTERM, SIGHUP},
                                     [](int) { QCoreApplication::exit(0); });
  const int status = app.exec();
  port.OnClose = nullptr;
  bridge.reset();
  port.SetActive(false);
  if (!linkPath.empty()) ::unlink(linkPath.c_str());
  return status;
}
