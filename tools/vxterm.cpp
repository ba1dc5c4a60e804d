// vxterm: a serial terminal for the console with Kermit file transfer built in. What the
// port sends goes to the console, what the user types goes to the port; a command key opens
// the vxterm> prompt (tools/vxterm/).
//
// Thread: everything runs on the main thread; the serial component hands its port events
// to it.
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <iostream>

#include "lineoptions.h"
#include "platform/debugout.h"
#include "vxterm/console.h"
#include "vxterm/keys.h"
#include "vxterm/session.h"

namespace {

const char* kDescription =
    "A serial terminal for the console, with Kermit file transfer built in.\n"
    "\n"
    "  vxterm [options] DEVICE   connect the console to the device\n"
    "  vxterm --list             list the serial ports with what udev knows of them\n"
    "\n"
    "DEVICE is a device path (/dev/ttyUSB0), a name under /dev/serial/by-id, or a port\n"
    "name (COM1, mapped in the configuration store). While connected the console is raw:\n"
    "every byte typed goes to the line and every byte received is shown as it is.\n"
    "\n"
    "The command key (Ctrl-] unless --escape) opens the prompt vxterm> on the bottom line;\n"
    "pressed twice it sends itself. Enter runs the command, Escape or Ctrl-C leaves the\n"
    "prompt. Commands:\n"
    "  send PATH...          send files with Kermit (wildcards * and ? allowed)\n"
    "  receive [DIR]         receive files with Kermit into DIR (default: .)\n"
    "  break                 send a break (250 ms)\n"
    "  dtr on|off            raise or drop DTR\n"
    "  rts on|off            raise or drop RTS\n"
    "  lines                 show the modem lines (CTS, DSR, DCD, RI)\n"
    "  log FILE | log off    keep the received lines and the session's events in FILE\n"
    "  hex on|off            show received bytes as hex\n"
    "  timestamps on|off     open every received line with the time\n"
    "  quit                  leave vxterm\n"
    "A transfer shows its progress line and returns to the terminal when done; Ctrl-C\n"
    "cancels it. Kermit speaks as vxkermit does: long packets, repeat-count compression,\n"
    "exact length and date, and this side named a Unix system to the peer, unless\n"
    "--classic. Files go byte for byte unless --text or --auto-type; a received text\n"
    "file is stored with LF line ends, an upper-case name from a sender that is not a\n"
    "Unix system in lower case, a file that differs from its announced length fails,\n"
    "and a server command is refused, as in vxkermit.\n"
    "\n"
    "When the device goes away vxterm waits for it (by its /dev/serial/by-id name where it\n"
    "has one) and reopens it with the same settings, unless --no-reconnect.\n"
    "\n"
    "Exit status:\n"
    "  0  quit (or the console's input ended);\n"
    "  1  the device went away with --no-reconnect;\n"
    "  2  a usage error or a device that cannot be opened;\n"
    "  128+N  ended by signal N (the console's settings are restored, and the device's\n"
    "     unless --keep-settings; a running transfer ends with an error packet first).";

int Usage(const QCommandLineParser& parser, const std::string& error) {
  std::cerr << "vxterm: " << error << "\n\n" << parser.helpText().toStdString();
  return 2;
}

// The serial ports the library's enumeration finds, one a line.
int ListPorts() {
  TTermComm comm;
  comm.SetEnumPorts(epFullInfo);
  comm.EnumDevices();
  if (comm.DeviceCount() == 0) std::printf("no serial ports found\n");
  for (int i = 0; i < comm.DeviceCount(); ++i) {
    const TvxDevice* d = comm.GetDevice(i);
    std::string line = d->DisplayName;
    if (!d->PortName.empty() && d->PortName != d->ListedName) line += "  " + d->PortName;
    if (!d->Manufacturer.empty()) line += "  [" + d->Manufacturer + "]";
    if (!d->SymbolicName.empty()) line += "  " + d->SymbolicName;
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

// Reads the command line into O: -1 when the session is to run, else the exit status (help,
// the port list, a usage error).
int ReadCommandLine(TTerminalOptions& o) {
  const TLineOptions shared;
  const QCommandLineOption list("list", "List the serial ports and exit.");
  const QCommandLineOption escape(
      "escape", "The command key: ^X or ctrl-X for a control key, or 0xNN (default ^]).", "key",
      "^]");
  const QCommandLineOption autoReceive(
      "auto-receive",
      "Take a Kermit transfer the far end starts (a Send-Init arriving) at once, into the "
      "current directory.");
  const QCommandLineOption noReconnect("no-reconnect",
                                       "Quit (status 1) when the device goes away.");
  QCommandLineParser parser;
  parser.setApplicationDescription(kDescription);
  parser.addHelpOption();
  parser.addOptions(QList<QCommandLineOption>{list, escape, autoReceive, noReconnect} +
                    shared.Line() + shared.Kermit());
  parser.addPositionalArgument("DEVICE", "the serial device");
  // Not process(): it ends the program with status 1 on an unknown option.
  if (!parser.parse(QCoreApplication::arguments()))
    return Usage(parser, parser.errorText().toStdString());
  if (parser.isSet("help")) parser.showHelp(0);
  if (parser.isSet(list)) return ListPorts();
  const QStringList args = parser.positionalArguments();
  if (args.size() != 1)
    return Usage(parser, args.empty() ? "a device is needed" : "one device only");
  o.device = args[0].toLocal8Bit().toStdString();
  if (const std::string bad = shared.Read(parser, o.line, o.kermit); !bad.empty())
    return Usage(parser, bad);
  if (!ParseEscapeKey(parser.value(escape).toStdString(), o.escape))
    return Usage(parser, "bad --escape");
  o.autoReceive = parser.isSet(autoReceive);
  o.reconnect = !parser.isSet(noReconnect);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  // Qt's own event dispatcher, as in vxkermit: a console program serves no GLib sources.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("vxterm");
  TTerminalOptions o;
  if (const int status = ReadCommandLine(o); status >= 0) return status;
  // The components' debug lines would land in the middle of the session.
  if (!vxDebugOutputToJournal()) vxSetDebugOutputEnabled(false);

  TConsole console;
  TTerminalSession session(console, o);
  std::string error;
  if (!session.Open(error)) {
    std::cerr << "vxterm: cannot open " << o.device << ": " << error << "\n";
    return 2;
  }
  if (!console.EnterRaw(error)) {
    std::cerr << "vxterm: cannot set up the console: " << error << "\n";
    return 2;
  }
  session.Start();
  app.exec();
  console.Restore();
  std::fflush(stdout);
  return session.ExitCode();
}
