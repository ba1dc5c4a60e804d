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
#include "vxcomm/platform/debugout.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/unqualified.h"
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
    "  send -p P PATH...     send with protocol P: kermit, xmodem (one file, 128-byte\n"
    "                        blocks), xmodem-1k, ymodem or zmodem\n"
    "  receive -p P [DIR]    receive with kermit, ymodem or zmodem; receive -p xmodem\n"
    "                        FILE stores the one file XMODEM carries as FILE (up to a\n"
    "                        block of padding may end it: XMODEM carries no length)\n"
    "  break                 send a break (250 ms)\n"
    "  dtr on|off            raise or drop DTR\n"
    "  dtr pulse [MS]        drop DTR for MS milliseconds (default 100), then raise it\n"
    "  rts on|off            raise or drop RTS\n"
    "  rts pulse [MS]        drop RTS for MS milliseconds (default 100), then raise it\n"
    "  lines                 show the modem lines (CTS, DSR, DCD, RI)\n"
    "  speed BPS             change the line speed\n"
    "  data-bits N           change the data bits (5 to 8)\n"
    "  parity P              change the parity (none, odd, even, mark, space)\n"
    "  stop-bits N           change the stop bits (1, 1.5, 2)\n"
    "  flow F                change the flow control (none, xonxoff, hardware)\n"
    "  echo on|off           show what is typed (local echo)\n"
    "  send-hex HEX...       send bytes given in hex (send-hex 01 02 ff, send-hex 0d0a)\n"
    "  stats                 show the bytes received and sent\n"
    "  log FILE | log off    keep the received lines and the session's events in FILE\n"
    "  hex on|off            show received bytes as hex\n"
    "  timestamps on|off     open every received line with the time\n"
    "  quit                  leave vxterm\n"
    "While the prompt is open the line's output waits (the last 1 MiB is kept; what was\n"
    "dropped is told when it closes). Keys that send sequences (arrows) are ignored there.\n"
    "A transfer shows its progress line and returns to the terminal when done; Ctrl-C\n"
    "cancels it. Kermit speaks as vxkermit does: long packets, repeat-count compression,\n"
    "exact length and date, and this side named a Unix system to the peer, unless\n"
    "--classic. Files go byte for byte unless --text or --auto-type; a received text\n"
    "file is stored with LF line ends, an upper-case name from a sender that is not a\n"
    "Unix system in lower case, a file that differs from its announced length fails,\n"
    "and a server command is refused, as in vxkermit.\n"
    "\n"
    "Mappings (--map, --imap for what is received, --omap for what is typed), comma-\n"
    "separated: crlf (CR to LF), crcrlf (CR to CR LF), igncr (CR dropped), lfcr (LF to CR),\n"
    "lfcrlf (LF to CR LF), ignlf (LF dropped), bsdel (BS to DEL), delbs (DEL to BS).\n"
    "\n"
    "When standard input is no terminal (a pipe), vxterm's own messages go to standard\n"
    "error and standard output carries only what the line sent.\n"
    "\n"
    "When the device goes away vxterm says why (the system's reason) and waits for it\n"
    "(by its /dev/serial/by-id name where it has one) and reopens it with the same\n"
    "settings, unless --no-reconnect.\n"
    "\n"
    "Exit status:\n"
    "  0  quit (or the console's input ended);\n"
    "  1  the device went away with --no-reconnect;\n"
    "  2  a usage error, a --log-raw file that cannot be written, or a device that\n"
    "     cannot be opened;\n"
    "  128+N  ended by signal N (the console's settings are restored, and the device's\n"
    "     unless --keep-settings; a running transfer ends with an error packet first).";

int Usage(const QCommandLineParser& parser, const std::string& error) {
  std::cerr << "vxterm: " << error << "\n\n" << parser.helpText().toStdString();
  return 2;
}

// The serial ports the library's enumeration finds: the name and the device path on one
// line, what udev tells of the device indented below it.
int ListPorts() {
  TTermComm comm;
  comm.SetEnumPorts(epFullInfo);
  comm.EnumDevices();
  if (comm.DeviceCount() == 0) std::printf("no serial ports found\n");
  for (int i = 0; i < comm.DeviceCount(); ++i) {
    const TvxDevice* d = comm.GetDevice(i);
    const std::string path = vxResolvePortName(d->PortName.empty() ? d->ListedName : d->PortName);
    std::printf("%s  %s\n", d->DisplayName.c_str(),
                path.empty() ? "(no device path)" : path.c_str());
    std::string details;
    auto add = [&](const char* what, const std::string& value) {
      if (!value.empty() && value != path)
        details += std::string(details.empty() ? "" : ", ") + what + " " + value;
    };
    add("maker", d->Manufacturer);
    add("driver", d->Service);
    add("link", d->SymbolicName);
    add("id", d->InstanceId);
    if (!details.empty()) std::printf("    %s\n", details.c_str());
  }
  return 0;
}

// A delay option: milliseconds from 0 to Most.
bool ReadDelay(const QCommandLineParser& parser, const QCommandLineOption& option, int most,
               int& ms) {
  return !parser.isSet(option) || ParseNumber(parser.value(option), 0, most, ms);
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
      "Take a Kermit or ZMODEM transfer the far end starts (a Send-Init or a ZRQINIT "
      "arriving) at once, into the current directory; tell of a ZMODEM receiver waiting.");
  const QCommandLineOption noReconnect("no-reconnect",
                                       "Quit (status 1) when the device goes away.");
  const QCommandLineOption map("map", "Mappings for both directions (see below), e.g. crlf,delbs.",
                               "list");
  const QCommandLineOption imap("imap", "Mappings of what is received, before it is shown.",
                                "list");
  const QCommandLineOption omap("omap", "Mappings of what is typed, before it is sent.", "list");
  const QCommandLineOption echo("echo", "Show what is typed (local echo); the echo command too.");
  const QCommandLineOption charDelay("char-delay",
                                     "Wait this long after every byte typed or pasted (0 to "
                                     "10000, default 0).",
                                     "ms");
  const QCommandLineOption lineDelay("line-delay",
                                     "Wait this long after every line end (CR or LF) typed or "
                                     "pasted (0 to 10000, default 0).",
                                     "ms");
  const QCommandLineOption alert("alert",
                                 "What tells of a connect and a disconnect beside the message: "
                                 "bell (the console's bell) or none (the default).",
                                 "how", "none");
  const QCommandLineOption rs485(
      "rs485",
      "RS-485 half duplex: RTS is raised while sending (by the driver where it can, else by "
      "vxterm) and dropped when the bytes are out.");
  const QCommandLineOption rs485Before(
      "rs485-before", "With --rs485: raise RTS this long before the first byte (0 to 1000).", "ms");
  const QCommandLineOption rs485After(
      "rs485-after", "With --rs485: keep RTS up this long after the last byte (0 to 1000).", "ms");
  const QCommandLineOption logRaw("log-raw",
                                  "Append every byte received, exactly as it came (transfers "
                                  "included), to this file.",
                                  "file");
  QCommandLineParser parser;
  parser.setApplicationDescription(kDescription);
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOptions(QList<QCommandLineOption>{list, escape, autoReceive, noReconnect, map, imap,
                                              omap, echo, charDelay, lineDelay, alert, rs485,
                                              rs485Before, rs485After, logRaw} +
                    shared.Line() + shared.Kermit());
  parser.addPositionalArgument("DEVICE", "the serial device");
  // Not process(): it ends the program with status 1 on an unknown option.
  if (!parser.parse(QCoreApplication::arguments()))
    return Usage(parser, parser.errorText().toStdString());
  if (parser.isSet("help")) parser.showHelp(0);
  if (parser.isSet("version")) parser.showVersion();
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
  o.echo = parser.isSet(echo);
  o.rs485 = parser.isSet(rs485);
  if (!ReadDelay(parser, rs485Before, 1000, o.rs485BeforeMs) ||
      !ReadDelay(parser, rs485After, 1000, o.rs485AfterMs))
    return Usage(parser, "bad --rs485-before or --rs485-after");
  if ((parser.isSet(rs485Before) || parser.isSet(rs485After)) && !o.rs485)
    return Usage(parser, "bad --rs485-before or --rs485-after: they need --rs485");
  o.rawLog = parser.value(logRaw).toLocal8Bit().toStdString();
  std::string bad;
  for (const QString& list : parser.values(map))
    if (!o.inMap.Add(list.toStdString(), bad) || !o.outMap.Add(list.toStdString(), bad))
      return Usage(parser, "bad --map: " + bad);
  for (const QString& list : parser.values(imap))
    if (!o.inMap.Add(list.toStdString(), bad)) return Usage(parser, "bad --imap: " + bad);
  for (const QString& list : parser.values(omap))
    if (!o.outMap.Add(list.toStdString(), bad)) return Usage(parser, "bad --omap: " + bad);
  if (!ReadDelay(parser, charDelay, 10000, o.pacing.charMs))
    return Usage(parser, "bad --char-delay");
  if (!ReadDelay(parser, lineDelay, 10000, o.pacing.lineMs))
    return Usage(parser, "bad --line-delay");
  const QString how = parser.value(alert);
  if (how != "bell" && how != "none") return Usage(parser, "bad --alert");
  o.bell = how == "bell";
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  // Qt's own event dispatcher, as in vxkermit: a console program serves no GLib sources.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("vxterm");
  QCoreApplication::setApplicationVersion(VXCOMM_VERSION);
  TTerminalOptions o;
  if (const int status = ReadCommandLine(o); status >= 0) return status;
  // The components' debug lines would land in the middle of the session.
  vxSetDebugOutputEnabled(vxDebugOutputToJournal());

  TConsole console;
  TTerminalSession session(console, o);
  std::string error;
  if (!session.OpenRawLog(error)) {
    std::cerr << "vxterm: cannot write " << o.rawLog << ": " << error << "\n";
    return 2;
  }
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
