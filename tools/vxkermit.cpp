// vxkermit: sends or receives files with the Kermit protocol over a serial line, for
// scripts on machines without a display. The line is a TvxComm, the log a TvxLogFile.
//
// Thread: everything runs on the main thread; the serial component hands its port events
// to it.
#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>

#include "devicelost.h"
#include "farendtext.h"
#include "lineoptions.h"
#include "peerquiet.h"
#include "progressline.h"
#include "sendnames.h"
#include "signalcatch.h"
#include "transferverdict.h"
#include "vxcomm/platform/debugout.h"
#include "vxcomm/platform/fileopen.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxlogfile.h"

namespace {

const char* kDescription =
    "Sends or receives files with the Kermit protocol over a serial line.\n"
    "\n"
    "  vxkermit send [options] DEVICE MASK...   send the files the masks name\n"
    "  vxkermit resend [options] DEVICE MASK... send them, each from where the receiver's\n"
    "                                           copy of an earlier, interrupted transfer ends\n"
    "  vxkermit receive [options] DEVICE [DIR]  receive one session into DIR (default: .)\n"
    "\n"
    "DEVICE is a device path (/dev/ttyUSB0) or a port name (COM1, mapped in the\n"
    "configuration store). A mask may hold the wildcards * and ?; several masks may also\n"
    "be given in one argument, separated by ',' or ';'. File names are used as the bytes\n"
    "they are, whatever their encoding.\n"
    "\n"
    "Long packets (up to 9024 bytes) and repeat-count compression are offered to the peer\n"
    "and used when it agrees (a file's name then crosses whole, up to 255 bytes; in\n"
    "classic packets it is cut to what one holds); a file's exact length and date go with\n"
    "it, and a received file takes the date its sender gives. A sliding window of up to 31 packets "
    "in flight\n"
    "is offered (--window). --classic speaks the basic protocol without any of them.\n"
    "--reliable declares the line reliable: data packets stream without waiting for\n"
    "acknowledgements when the peer declares it reliable too.\n"
    "\n"
    "A send starts by discarding what the line held before it spoke (a peer's answers\n"
    "to an earlier session); damaged packets that arrive while it waits for the answer\n"
    "to its Send-Init cost one retry for each Send-Init sent, not one each.\n"
    "\n"
    "Files are sent byte for byte under their own names (binary mode, literal names),\n"
    "and this side names itself a Unix system to the peer (not with --classic), so that\n"
    "a standard peer in its automatic mode sends its files the same way. --text sends\n"
    "every file as text (CR LF line ends on the line); --auto-type picks text or binary\n"
    "per file by content, and binary for a peer that names itself a Unix system.\n"
    "Receiving, a file the sender calls text is stored with LF line ends (every CR\n"
    "dropped, as standard peers store text) and a binary one byte for byte; a name that\n"
    "arrives in upper case from a sender that does not name itself a Unix system (the\n"
    "converted form) is stored in lower case, TEXT.TXT as text.txt. Character sets are\n"
    "not translated. A received file must have the length its sender announced (a\n"
    "text file: as its sender counts it); one that differs ends the transfer with an\n"
    "error, and so does a file that changes while it is sent. A client's server\n"
    "command (get, remote dir, finish, bye) is refused at once with an error packet:\n"
    "this is not a server.\n"

    "A received file is written under a hidden name in DIR and takes its name only\n"
    "when complete; a file that cannot be written whole (a full disk) ends the transfer\n"
    "with the system's reason and is not kept. A name that is a symbolic link, a\n"
    "directory or another special file in DIR refuses that file (the sender skips it and\n"
    "the session goes on); --collision says what a file does to one of the same name.\n"
    "\n"
    "Recovery is offered too (not with --classic): a file a sender resends is appended to\n"
    "the partial copy DIR holds (an interrupted transfer leaves its part there, hidden as\n"
    ".NAME.vxpart), and only the rest crosses the line. A peer that does not\n"
    "offer recovery gets each file whole from resend; one that reports more bytes than\n"
    "the file has ends the transfer with an error. Progress counts the bytes that\n"
    "actually cross.\n"
    "\n"
    "Exit status:\n"
    "  0  every file listed was transferred complete;\n"
    "  1  the transfer failed: the session ended early (the device went away: said\n"
    "     with its reason), a file was skipped, discarded or\n"
    "     refused, a name could not be sent (a line break in it, a blank at its start or\n"
    "     end, no such file: each said on standard error), no file matched the masks, or\n"
    "     (receive --wait) no session started in time; a failed session is followed by\n"
    "     its count of files: listed, sent (received) complete, skipped, failed;\n"
    "  2  a usage error, a device that cannot be opened, or a directory that does not\n"
    "     exist, is not a directory or cannot be written (checked before the line is\n"
    "     opened);\n"
    "  128+N  ended by signal N (SIGINT, SIGTERM or SIGHUP): a running transfer is ended\n"
    "     with an error packet to the peer first. Whatever the way out, the lock file is\n"
    "     removed and the line's settings are put back as they were found (unless\n"
    "     --keep-settings).";

struct Options {
  bool send = false;
  bool resend = false;
  std::string device;
  std::vector<std::string> masks;
  std::string dir;
};

int Usage(const QCommandLineParser& parser, const QString& error) {
  std::cerr << "vxkermit: " << error.toStdString() << "\n\n" << parser.helpText().toStdString();
  return 2;
}

// The command line as the bytes it was given: Qt decodes arguments to QStrings, which
// cannot hold a file name that is not valid in the locale.
struct RawArguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // an option's last value, by its long name
};

// Splits Argv the way QCommandLineParser does for options that have long names only:
// "--name value", "--name=value", "--" ending the options, "-" alone a positional argument.
RawArguments SplitRaw(int argc, char** argv, const QList<QCommandLineOption>& options) {
  std::map<std::string, bool> takesValue;
  for (const QCommandLineOption& o : options)
    for (const QString& name : o.names()) takesValue[name.toStdString()] = !o.valueName().isEmpty();
  RawArguments raw;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      raw.positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg.compare(0, 2, "--") == 0) {
      const std::size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? eq : eq - 2);
      if (eq != std::string::npos)
        raw.values[name] = arg.substr(eq + 1);
      else if (takesValue[name] && i + 1 < argc)
        raw.values[name] = argv[++i];
    }
  }
  return raw;
}

// The bytes of Decoded as given on the command line: Raw when it decodes to Decoded, else
// Decoded in the locale's encoding.
std::string Bytes(const std::string* raw, const QString& decoded) {
  if (raw && QString::fromLocal8Bit(raw->data(), static_cast<qsizetype>(raw->size())) == decoded)
    return *raw;
  return decoded.toLocal8Bit().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  // Qt's own event dispatcher: the GLib one costs every packet a little more, and a
  // command-line program has no GLib sources to serve.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("vxkermit");
  QCoreApplication::setApplicationVersion(VXCOMM_VERSION);
  QCommandLineParser parser;
  parser.setApplicationDescription(kDescription);
  parser.addHelpOption();
  parser.addVersionOption();
  const TLineOptions shared;
  const QCommandLineOption wait("wait",
                                "receive: give up, with status 1, when no session has started "
                                "after this many seconds (default 0: wait for ever).",
                                "s", "0");
  const QCommandLineOption logFile("log", "Write the log to this file as well.", "file");
  const QCommandLineOption level(
      "log-level", "Log detail: simple, detail or debug (default simple).", "level", "simple");
  const QCommandLineOption quiet("quiet", "Print nothing but errors: no progress, log or summary.");
  QList<QCommandLineOption> options = shared.Line() + shared.Kermit();
  options << wait << logFile << level << quiet;
  parser.addOptions(options);
  parser.addPositionalArgument("command", "send, resend or receive");
  parser.addPositionalArgument("DEVICE", "the serial device");
  parser.addPositionalArgument("MASK.../DIR", "files to send, or the directory to receive into");
  // Not process(): it ends the program with status 1 on an unknown option.
  if (!parser.parse(QCoreApplication::arguments())) return Usage(parser, parser.errorText());
  if (parser.isSet("help") || parser.isSet("help-all")) parser.showHelp(0);
  if (parser.isSet("version")) parser.showVersion();

  const QStringList args = parser.positionalArguments();
  const RawArguments raw = SplitRaw(argc, argv, options);
  const bool rawMatches = raw.positional.size() == static_cast<std::size_t>(args.size());
  auto positional = [&](int i) {
    return Bytes(rawMatches ? &raw.positional[static_cast<std::size_t>(i)] : nullptr, args[i]);
  };
  Options o;
  if (args.size() < 2) return Usage(parser, "a command and a device are needed");
  if (args[0] == "send" || args[0] == "resend") {
    o.send = true;
    o.resend = args[0] == "resend";
    if (args.size() < 3) return Usage(parser, args[0] + " needs at least one mask");
    for (int i = 2; i < args.size(); ++i) o.masks.push_back(positional(i));
  } else if (args[0] == "receive") {
    if (args.size() > 3) return Usage(parser, "receive takes one directory");
    o.dir = args.size() == 3 ? positional(2) : "";
  } else {
    return Usage(parser, "unknown command " + args[0]);
  }
  o.device = positional(1);

  TLineSettings line;
  TKermitSettings k;
  if (const std::string bad = shared.Read(parser, line, k); !bad.empty())
    return Usage(parser, QString::fromStdString(bad));
  if (o.resend && k.classic)
    return Usage(parser, "resend needs recovery, which --classic leaves out");
  if (o.resend && k.fileType == ftText)
    return Usage(parser, "resend resends binary files; --text leaves it nothing to resend");
  int waitSec = 0;
  if (!ParseNumber(parser.value(wait), 0, 100000000, waitSec)) return Usage(parser, "bad --wait");
  const QString lv = parser.value(level);
  const QStringList levels = {"simple", "detail", "debug"};
  if (!levels.contains(lv)) return Usage(parser, "bad --log-level");
  const bool loud = !parser.isSet(quiet);
  // The components' debug lines would reach the terminal; the journal may keep them.
  vxSetDebugOutputEnabled(loud || vxDebugOutputToJournal());

  // A bad directory is a usage error, found before the line is opened or anyone waits.
  if (!o.send) {
    const std::string dir = o.dir.empty() ? std::string(".") : o.dir;
    std::string reason;
    if (!vxWritableDirectory(dir, reason)) {
      std::cerr << "vxkermit: cannot receive into " << dir << ": " << reason << "\n";
      return 2;
    }
  }

  TvxLogFile log;
  log.SetOptions(parser.isSet(logFile) ? TLogOptions{loSafeMode, loDate, loTime, loMSec}
                                       : TLogOptions{});
  log.SetSizeLimit(0);
  log.SetDetailLevel(static_cast<TDetailLevel>(levels.indexOf(lv)));
  // Without --log no file at all: not even an empty one beside the program.
  log.SetFileName("");
  if (parser.isSet(logFile)) {
    const auto given = raw.values.find("log");
    log.SetFileName(
        Bytes(given == raw.values.end() ? nullptr : &given->second, parser.value(logFile)));
  }
  const bool toFile = parser.isSet(logFile);
  // A log file that cannot be written is said once and never stops the transfer.
  log.SetReportSaveErrorOnce(true);
  log.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    std::cerr << "vxkermit: " << msg << "; the transfer goes on without the log file\n";
  };
  TProgressLine progress(stderr, ::isatty(STDERR_FILENO) == 1);
  log.OnLogEntry = [&](TObject*, std::string& entry) {
    if (loud) {
      progress.Break();
      std::cerr << entry << "\n";
    }
    // Without a file nothing is kept, so the log never grows with the session.
    if (!toFile) entry.clear();
  };

  TvxComm comm;
  comm.SetDrainOnClose(true);      // the last packet leaves before the close
  comm.SetReportDeviceLoss(true);  // a device that goes away is told with its reason
  TvxKermit kermit;
  if (o.device.size() > 3 && o.device.compare(0, 3, "COM") == 0) {
    int n = 0;
    if (!ParseNumber(QString::fromStdString(o.device.substr(3)), 1, 65535, n))
      return Usage(parser, "bad port name");
    comm.SetComPortNo(static_cast<std::uint16_t>(n));
  } else {
    comm.SetDeviceName(o.device);
  }
  ApplyLineSettings(comm, line);
  comm.SetLog(&log);
  comm.SetDataProcessor(&kermit);
  kermit.SetLog(&log);
  kermit.SetActive(true);
  ApplyKermitSettings(kermit, k, line.dataBits);
  kermit.SetDefaultPath(o.dir);

  std::string fatal;
  auto onFatal = [&](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    if (fatal.empty()) fatal = msg;
    // Outside a session nothing else ends the wait (a line that fails while listening).
    if (!kermit.SessionOpen())
      QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  };
  // A device that went away (its report comes before the close, which ends a session):
  // the user hears which device and why, ahead of whatever the session says.
  std::string lost;
  comm.OnFatalError = [&](TObject* sender, Cardinal code, Cardinal detail, const std::string& msg,
                          bool& raise) {
    if (comm.DeviceLost() && lost.empty()) lost = DeviceLostText(o.device, detail);
    onFatal(sender, code, detail, lost.empty() ? msg : lost, raise);
  };
  kermit.OnFatalError = onFatal;

  // Text the far end prints between packets: shown when the transfer fails.
  TFarEndText farEnd;
  comm.OnAfterReceive = [&](TObject*, const void* data, Cardinal len) {
    farEnd.Feed(static_cast<const char*>(data), len);
  };

  bool sessionStarted = false, sessionEnded = false;
  TvxSessionResult session;
  kermit.OnFileStart = [&](TObject*) {
    if (loud) progress.Start(kermit.FileName());
  };
  // A recovered file's progress counts what crosses the line, not what was there before.
  kermit.OnFileEnd = [&](TObject*) {
    if (loud) progress.Finish(kermit.TotalSize() - kermit.RecoveredLength(), kermit.ErrorCount());
  };
  kermit.OnFileResult = [&](TObject*, const TvxFileResult& file) {
    if (file.outcome == foComplete || !loud) return;
    progress.Break();
    std::cerr << "vxkermit: " << file.name << ": " << FileOutcomeText(file.outcome)
              << (file.reason.empty() ? "" : " (" + file.reason + ")") << "\n";
  };
  // At every error too: a transfer that stalls shows its time-outs and repeats as they come.
  const auto showProgress = [&](TObject*) {
    if (loud)
      progress.Update(kermit.GetFilePosition() - kermit.RecoveredLength(),
                      kermit.TotalSize() - kermit.RecoveredLength(), kermit.ErrorCount(),
                      kermit.RetryCount());
  };
  kermit.OnProgress = showProgress;
  kermit.OnError = showProgress;
  kermit.OnChangeState = [&](TObject*) {
    if (kermit.State() != fsListen) sessionStarted = true;
  };
  // However the session ends, its account comes here once.
  kermit.OnSessionEnd = [&](TObject*, const TvxSessionResult& result) {
    session = result;
    sessionEnded = true;
    // Out of the loop at once, but not from inside the packet handling.
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  };

  // A signal that ends the program ends the session in order: the peer gets an E packet
  // (ahead of the data still queued, which is dropped), and the close below puts the line
  // back and removes the lock file.
  int signaled = 0;
  const TSignalCatcher endingSignals({SIGINT, SIGTERM, SIGHUP}, [&](int sig) {
    if (signaled) return;
    signaled = sig;
    if (kermit.State() != fsListen) {
      comm.PurgeOut();
      kermit.AbortTransfer("ended by signal " + std::to_string(sig) + " (" + strsignal(sig) + ")");
    }
    app.quit();
  });

  comm.SetActive(true);
  if (!comm.Active()) {
    std::cerr << "vxkermit: cannot open " << o.device << (fatal.empty() ? "" : ": " + fatal)
              << "\n";
    return 2;
  }

  // A receiver that waits for a session gives up after --wait (armed an hour at a time: a
  // timer's interval is an int of milliseconds).
  QTimer gaveUp;
  gaveUp.setSingleShot(true);
  QElapsedTimer waited;
  waited.start();
  const qint64 waitMs = waitSec * 1000LL;
  const auto arm = [&] {
    gaveUp.start(static_cast<int>(std::min<qint64>(waitMs - waited.elapsed(), 3600000)));
  };
  QObject::connect(&gaveUp, &QTimer::timeout, [&] {
    if (sessionStarted) return;
    if (waited.elapsed() >= waitMs)
      app.quit();
    else
      arm();
  });
  if (!o.send && waitSec > 0) arm();

  int refused = 0;
  if (o.send) {
    std::string masks;
    for (const auto& m : o.masks) {
      // Each one is a file of the batch: one that names none is an error of its own.
      if (const std::string why = UnsendableMask(kermit, m); !why.empty()) {
        ++refused;
        std::cerr << "vxkermit: cannot send " << QuotedName(m) << ": " << why << "\n";
        continue;
      }
      masks += (masks.empty() ? "" : ";") + m;
    }
    // What the line held before this side spoke (a peer's answers to an earlier session)
    // would be taken for answers to the Send-Init.
    comm.PurgeIn();
    try {
      if (o.resend)
        kermit.ResendFiles(masks);
      else
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
  // After a signal or a session that ended early the peer may still be sending: what it
  // sent is read (and answered with the error packet again) until it stops. The close
  // lets the last answer leave (DrainOnClose).
  if (signaled || (sessionEnded && !session.ended)) WaitUntilPeerQuiet(comm, 300, 5000);
  comm.SetActive(false);
  progress.Break();
  if (signaled) {
    std::cerr << "vxkermit: " << (sessionStarted ? "transfer failed: " : "")
              << (session.failure.empty() ? "ended by signal " + std::to_string(signaled)
                                          : session.failure)
              << "\n";
    return 128 + signaled;
  }

  const TTransferVerdict verdict = JudgeTransfer(session, refused);
  const bool ok = sessionEnded && verdict.ok && fatal.empty() && lost.empty();
  // Success is news only for a user who asked for output; a failure is an error.
  if (ok) {
    if (loud) std::cerr << "vxkermit: " << verdict.text << "\n";
  } else if (!sessionStarted) {
    std::cerr << "vxkermit: " << (fatal.empty() ? "no session started" : fatal) << "\n";
  } else {
    std::cerr << "vxkermit: transfer failed: "
              << (!lost.empty()                  ? lost
                  : !verdict.ok || fatal.empty() ? verdict.text
                                                 : fatal)
              << "\n";
    std::cerr << "vxkermit: " << verdict.counts << "\n";
  }
  if (!ok && !farEnd.LastLines().empty())
    std::cerr << "vxkermit: the far end's last output: " << farEnd.LastLines() << "\n";
  return ok ? 0 : 1;
}
