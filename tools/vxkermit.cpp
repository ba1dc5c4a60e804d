// vxkermit: sends or receives files with the Kermit protocol over a serial line, for
// scripts on machines without a display. The line is a TvxComm, the log a TvxLogFile.
//
// Thread: everything runs on the main thread; the serial component hands its port events
// to it.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <iostream>

#include "vxcomm.h"
#include "vxkermit.h"
#include "vxlogfile.h"

namespace {

const char* kDescription =
    "Sends or receives files with the Kermit protocol over a serial line.\n"
    "\n"
    "  vxkermit send [options] DEVICE MASK...   send the files the masks name\n"
    "  vxkermit receive [options] DEVICE [DIR]  receive one session into DIR (default: .)\n"
    "\n"
    "DEVICE is a device path (/dev/ttyUSB0) or a port name (COM1, mapped in the\n"
    "configuration store). A mask may hold the wildcards * and ?; several masks may also\n"
    "be given in one argument, separated by ',' or ';'.\n"
    "Exit status: 0 when every file was transferred, 1 when the transfer failed,\n"
    "2 for a usage error or a device that cannot be opened.";

// A serial component that opens a device path as well as a COM number.
class TCliComm : public TvxComm {
 public:
  std::string path;
  ~TCliComm() override { Destroying(); }
  std::string GetDeviceName() override { return path.empty() ? TvxComm::GetDeviceName() : path; }
};

// The Kermit component, remembering why a session ended early.
class TCliKermit : public TvxKermit {
 public:
  std::string failure;
  ~TCliKermit() override { Destroying(); }
  void AbortTransfer(const std::string& reason) override {
    if (failure.empty()) failure = reason.empty() ? "aborted" : reason;
    TvxKermit::AbortTransfer(reason);
  }
};

struct Options {
  bool send = false;
  std::string device;
  std::vector<std::string> masks;
  std::string dir;
};

int Usage(const QCommandLineParser& parser, const QString& error) {
  std::cerr << "vxkermit: " << error.toStdString() << "\n\n" << parser.helpText().toStdString();
  return 2;
}

bool ParseNumber(const QString& text, int low, int high, int& out) {
  bool ok = false;
  const int v = text.toInt(&ok);
  if (!ok || v < low || v > high) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Qt's own event dispatcher: the GLib one costs every packet a little more, and a
  // command-line program has no GLib sources to serve.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("vxkermit");
  QCommandLineParser parser;
  parser.setApplicationDescription(kDescription);
  parser.addHelpOption();
  const QCommandLineOption speed("speed", "Line speed in bits per second (default 115200).", "bps",
                                 "115200");
  const QCommandLineOption dataBits("data-bits", "Data bits: 5 to 8 (default 8).", "n", "8");
  const QCommandLineOption parity(
      "parity", "Parity: none, odd, even, mark or space (default none).", "p", "none");
  const QCommandLineOption stopBits("stop-bits", "Stop bits: 1, 1.5 or 2 (default 1).", "n", "1");
  const QCommandLineOption flow("flow", "Flow control: none, xonxoff or hardware (default none).",
                                "f", "none");
  const QCommandLineOption check(
      "check", "Block check proposed when sending: 1, 2 or 3 (default 3).", "n", "3");
  const QCommandLineOption timeout("timeout", "Reply time-out in seconds (default 5).", "s", "5");
  const QCommandLineOption errorLimit("error-limit", "Errors allowed in a session (default 3).",
                                      "n", "3");
  const QCommandLineOption wait("wait",
                                "receive: give up when no session has started after this many "
                                "seconds (default 0: wait for ever).",
                                "s", "0");
  const QCommandLineOption logFile("log", "Write the log to this file as well.", "file");
  const QCommandLineOption level(
      "log-level", "Log detail: simple, detail or debug (default simple).", "level", "simple");
  const QCommandLineOption quiet("quiet", "No progress and no log on standard error.");
  parser.addOptions({speed, dataBits, parity, stopBits, flow, check, timeout, errorLimit, wait,
                     logFile, level, quiet});
  parser.addPositionalArgument("command", "send or receive");
  parser.addPositionalArgument("DEVICE", "the serial device");
  parser.addPositionalArgument("MASK.../DIR", "files to send, or the directory to receive into");
  parser.process(app);

  const QStringList args = parser.positionalArguments();
  Options o;
  if (args.size() < 2) return Usage(parser, "a command and a device are needed");
  if (args[0] == "send") {
    o.send = true;
    if (args.size() < 3) return Usage(parser, "send needs at least one mask");
    for (int i = 2; i < args.size(); ++i) o.masks.push_back(args[i].toLocal8Bit().toStdString());
  } else if (args[0] == "receive") {
    if (args.size() > 3) return Usage(parser, "receive takes one directory");
    o.dir = args.size() == 3 ? args[2].toLocal8Bit().toStdString() : "";
  } else {
    return Usage(parser, "unknown command " + args[0]);
  }
  o.device = args[1].toLocal8Bit().toStdString();

  int bps = 0, bits = 0, crc = 0, timeoutSec = 0, limit = 0, waitSec = 0;
  if (!ParseNumber(parser.value(speed), 50, 4000000, bps)) return Usage(parser, "bad --speed");
  if (!ParseNumber(parser.value(dataBits), 5, 8, bits)) return Usage(parser, "bad --data-bits");
  if (!ParseNumber(parser.value(check), 1, 3, crc)) return Usage(parser, "bad --check");
  if (!ParseNumber(parser.value(timeout), 1, 60, timeoutSec)) return Usage(parser, "bad --timeout");
  if (!ParseNumber(parser.value(errorLimit), 0, 1000000, limit))
    return Usage(parser, "bad --error-limit");
  if (!ParseNumber(parser.value(wait), 0, 100000000, waitSec)) return Usage(parser, "bad --wait");
  const QString p = parser.value(parity), sb = parser.value(stopBits), fl = parser.value(flow),
                lv = parser.value(level);
  const QStringList parities = {"none", "odd", "even", "mark", "space"};
  const QStringList stops = {"1", "1.5", "2"};
  const QStringList flows = {"none", "xonxoff", "hardware"};
  const QStringList levels = {"simple", "detail", "debug"};
  if (!parities.contains(p)) return Usage(parser, "bad --parity");
  if (!stops.contains(sb)) return Usage(parser, "bad --stop-bits");
  if (!flows.contains(fl)) return Usage(parser, "bad --flow");
  if (!levels.contains(lv)) return Usage(parser, "bad --log-level");
  const bool loud = !parser.isSet(quiet);

  TvxLogFile log;
  log.SetOptions(parser.isSet(logFile) ? TLogOptions{loSafeMode, loDate, loTime, loMSec}
                                       : TLogOptions{});
  log.SetSizeLimit(0);
  log.SetDetailLevel(static_cast<TDetailLevel>(levels.indexOf(lv)));
  if (parser.isSet(logFile)) log.SetFileName(parser.value(logFile).toLocal8Bit().toStdString());
  const bool toFile = parser.isSet(logFile);
  log.OnLogEntry = [&](TObject*, std::string& entry) {
    if (loud) std::cerr << entry << "\n";
    // Without a file nothing is kept, so the log never grows with the session.
    if (!toFile) entry.clear();
  };

  TCliComm comm;
  TCliKermit kermit;
  if (o.device.size() > 3 && o.device.compare(0, 3, "COM") == 0) {
    int n = 0;
    if (!ParseNumber(QString::fromStdString(o.device.substr(3)), 1, 65535, n))
      return Usage(parser, "bad port name");
    comm.SetComPortNo(static_cast<std::uint16_t>(n));
  } else {
    comm.path = o.device;
  }
  comm.SetBaudRate(static_cast<Cardinal>(bps));
  comm.SetByteSize(static_cast<std::uint8_t>(bits));
  comm.SetParity(static_cast<TParity>(parities.indexOf(p)));
  comm.SetStopBits(static_cast<TStopBits>(stops.indexOf(sb)));
  comm.SetStreamProtocol(static_cast<TStreamProtocol>(flows.indexOf(fl)));
  comm.SetLog(&log);
  comm.SetDataProcessor(&kermit);
  kermit.SetLog(&log);
  kermit.SetActive(true);
  kermit.SetCrc(static_cast<TvxKermitCrc>(crc - 1));
  kermit.SetTimeout(timeoutSec * 1000);
  kermit.SetErrorLimit(limit);
  kermit.SetDefaultPath(o.dir);

  std::string fatal;
  auto onFatal = [&](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    if (fatal.empty()) fatal = msg;
  };
  comm.OnFatalError = onFatal;
  kermit.OnFatalError = onFatal;

  int files = 0;
  bool sessionStarted = false, sessionEnded = false;
  QElapsedTimer shown;
  shown.start();
  kermit.OnFileEnd = [&](TObject*) { ++files; };
  kermit.OnProgress = [&](TObject*) {
    if (!loud || shown.elapsed() < 250) return;
    shown.restart();
    std::fprintf(stderr, "%s: %lld of %lld bytes\n", kermit.FileName().c_str(),
                 static_cast<long long>(kermit.GetFilePosition()),
                 static_cast<long long>(kermit.TotalSize()));
  };
  kermit.OnChangeState = [&](TObject*) {
    if (kermit.State() != fsListen)
      sessionStarted = true;
    else if (sessionStarted) {
      sessionEnded = true;
      // Out of the loop at once, but not from inside the packet handling.
      QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    }
  };

  comm.SetActive(true);
  if (!comm.Active()) {
    std::cerr << "vxkermit: cannot open " << o.device << (fatal.empty() ? "" : ": " + fatal)
              << "\n";
    return 2;
  }

  // The session ends through OnChangeState; an abort (no event) and the rest are looked for.
  QTimer poll;
  QElapsedTimer waited;
  waited.start();
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const bool aborted = sessionStarted && kermit.State() == fsListen && !kermit.failure.empty();
    const bool gaveUp =
        !o.send && !sessionStarted && waitSec > 0 && waited.elapsed() > waitSec * 1000LL;
    if (sessionEnded || aborted || gaveUp || (!sessionStarted && !fatal.empty())) app.quit();
  });
  poll.start(50);

  if (o.send) {
    std::string masks;
    for (const auto& m : o.masks) masks += (masks.empty() ? "" : ";") + m;
    try {
      kermit.SendFiles(masks);
    } catch (const std::exception& e) {
      if (fatal.empty()) fatal = e.what();
    }
    if (!fatal.empty() && !sessionStarted) {
      std::cerr << "vxkermit: " << fatal << "\n";
      return 1;
    }
  }
  app.exec();
  // The last answer (the break or its acknowledgement) leaves the line before the close,
  // which would purge it; a slow line gets the time its bytes need, within bounds.
  QElapsedTimer draining;
  draining.start();
  while (comm.Active() && comm.OutQueueCount() > 0 && draining.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  comm.SetActive(false);

  const bool ok = sessionEnded && kermit.failure.empty() && fatal.empty();
  if (loud) {
    if (ok)
      std::cerr << "vxkermit: " << files << (files == 1 ? " file " : " files ")
                << (o.send ? "sent" : "received") << "\n";
    else if (!sessionStarted)
      std::cerr << "vxkermit: no session started\n";
    else
      std::cerr << "vxkermit: transfer failed: "
                << (kermit.failure.empty() ? fatal : kermit.failure) << "\n";
  }
  return ok ? 0 : 1;
}
