// vxmodem: sends or receives files with XMODEM, YMODEM or ZMODEM over a serial line, for
// scripts on machines without a display, as vxkermit does with Kermit. The line is a TvxComm,
// the transfer a TvxXModem, TvxYModem or TvxZModem, the log a TvxLogFile.
//
// Thread: everything runs on the main thread; the serial component hands its port events
// to it.
#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <iostream>
#include <memory>

#include "commandline.h"
#include "lineoptions.h"
#include "modemoptions.h"
#include "programlog.h"
#include "progressline.h"
#include "sendnames.h"
#include "transferrun.h"
#include "vxcomm/platform/fileopen.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxlogfile.h"
#include "vxcomm/vxxmodem.h"
#include "vxcomm/vxymodem.h"
#include "vxcomm/vxzmodem.h"

namespace {

const char* kDescription =
    "Sends or receives files with XMODEM, YMODEM or ZMODEM over a serial line.\n"
    "\n"
    "  vxmodem send [options] DEVICE FILE...       send the files (XMODEM: one)\n"
    "  vxmodem receive [options] DEVICE [DIR]      YMODEM, ZMODEM: receive a batch into DIR\n"
    "                                              (default: .) under the names sent\n"
    "  vxmodem receive --protocol xmodem [options] DEVICE FILE\n"
    "                                              XMODEM: receive one file as FILE\n"
    "\n"
    "DEVICE is a device path (/dev/ttyUSB0) or a port name (COM1, mapped in the\n"
    "configuration store). A FILE to send may hold the wildcards * and ?. The protocol\n"
    "is YMODEM unless --protocol xmodem.\n"
    "\n"
    "YMODEM carries each file's name, exact length and date, several files in one\n"
    "session, in 1K blocks with CRC-16; a received file is cut to the length its sender\n"
    "gave and takes its date. With -g the receiver asks for YMODEM-g: blocks stream\n"
    "without acknowledgements, for an error-free line only.\n"
    "\n"
    "ZMODEM (--protocol zmodem) carries the same, with CRC-32 (CRC-16 with a receiver\n"
    "that has no CRC-32), data streamed without waiting for answers, and every damaged\n"
    "or lost stretch sent again from the last byte the receiver holds; a received file\n"
    "is complete only when its end names that byte and the length its sender gave.\n"
    "\n"
    "XMODEM carries one file, with neither name nor length: the receiver names it\n"
    "(FILE), and the last block is padded with SUB (0x1A) bytes to its size, so the\n"
    "received file keeps up to one block (128 bytes, 1024 with --1k) of SUB padding\n"
    "unless --strip-padding, which also removes SUB bytes that really ended the file.\n"
    "Its checks (the 8-bit sum, CRC-16) find most damage, not all. So success never\n"
    "promises an exact copy: it says that every block arrived in sequence with a sound\n"
    "check (sending: was acknowledged) and the sender ended the file.\n"
    "\n"
    "A received file is written under a hidden name in its directory and takes its\n"
    "name only when complete; one that does not complete is removed (no file is\n"
    "resumed). Nothing is written outside that directory; a name that is a symbolic\n"
    "link, a directory or another special file there ends the transfer (ZMODEM skips\n"
    "the file and fails at the end), and --collision says what a file does to one of\n"
    "the same name.\n"
    "\n"
    "Exit status:\n"
    "  0  every file was transferred complete;\n"
    "  1  the transfer failed: the peer cancelled or stopped answering, too many errors,\n"
    "     a file could not be written or was refused, the device went away (said with\n"
    "     its reason); a failed session is followed by its count of files;\n"
    "  2  a usage error (an unknown protocol, an option that does not apply, more than\n"
    "     one file for XMODEM, a file to send that does not exist), a device that cannot\n"
    "     be opened, or a receiving directory that does not exist, is not a directory or\n"
    "     cannot be written (all checked before the line is opened);\n"
    "  128+N  ended by signal N (SIGINT, SIGTERM or SIGHUP): a running transfer is\n"
    "     cancelled to the peer first. Whatever the way out, the lock file is removed and\n"
    "     the line's settings are put back as they were found (unless --keep-settings).";

const char* const kProgram = "vxmodem";

int Usage(const QCommandLineParser& parser, const QString& error) {
  return UsageError(kProgram, parser, error);
}

// The usage error of an XMODEM send given Count files.
QString OneFileOnly(int count) {
  return "XMODEM carries one file per session (" + QString::number(count) +
         " given): send them one at a time, or with YMODEM";
}

// Where a received file goes: the directory, and the name in it (XMODEM only).
struct TTarget {
  std::string dir;
  std::string name;
};

// XMODEM's FILE as the directory it lies in and its name there; an empty name for a path
// that names no file (ending in "/", ".", "..").
TTarget SplitTarget(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  TTarget t;
  t.dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  t.name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (t.name == "." || t.name == "..") t.name.clear();
  return t;
}

// The component the protocol chooses, set up as the options say.
struct TModem {
  explicit TModem(const TModemSettings& m) {
    if (m.protocol == TModemProtocol::kZModem) {
      zmodem = std::make_unique<TvxZModem>();
      ApplyModemSettings(*zmodem, m);
    } else if (m.protocol == TModemProtocol::kYModem) {
      ymodem = std::make_unique<TvxYModem>();
      ApplyModemSettings(*ymodem, m);
    } else {
      xmodem = std::make_unique<TvxXModem>();
      ApplyModemSettings(*xmodem, m);
    }
  }
  TvxCustomFileTransfer& Transfer() {
    if (zmodem) return *zmodem;
    return ymodem ? static_cast<TvxCustomFileTransfer&>(*ymodem) : *xmodem;
  }
  void Receive() {
    if (zmodem)
      zmodem->ReceiveFiles();
    else if (ymodem)
      ymodem->ReceiveFiles();
    else
      xmodem->ReceiveFile();
  }

  std::unique_ptr<TvxXModem> xmodem;
  std::unique_ptr<TvxYModem> ymodem;
  std::unique_ptr<TvxZModem> zmodem;
};

}  // namespace

int main(int argc, char** argv) {
  // Qt's own event dispatcher, as in vxkermit: a command-line program has no GLib sources.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(kProgram);
  QCoreApplication::setApplicationVersion(VXCOMM_VERSION);
  QCommandLineParser parser;
  const TLineOptions lineOptions;
  const TModemOptions modemOptions;
  const TProgramLogOptions logOptions;
  const QList<QCommandLineOption> options =
      lineOptions.Line() + modemOptions.All() + logOptions.All();
  const QString badLine =
      ParseProgramLine(parser, kDescription, options,
                       {{"command", "send or receive"},
                        {"DEVICE", "the serial device"},
                        {"FILE.../DIR/FILE",
                         "files to send, the directory to receive into (YMODEM, ZMODEM) or "
                         "the file "
                         "to receive as (XMODEM)"}});
  if (!badLine.isEmpty()) return Usage(parser, badLine);

  const QStringList args = parser.positionalArguments();
  const TRawArguments raw = SplitRaw(argc, argv, options);
  const std::vector<std::string> positional = PositionalBytes(parser, raw);
  if (args.size() < 2) return Usage(parser, "a command and a device are needed");
  const bool sending = args[0] == "send";
  if (!sending && args[0] != "receive") return Usage(parser, "unknown command " + args[0]);
  TLineSettings line;
  TModemSettings m;
  TLogChoice logChoice;
  for (const std::string& bad :
       {lineOptions.ReadLine(parser, line), modemOptions.Read(parser, sending, m),
        logOptions.Read(parser, raw, logChoice)})
    if (!bad.empty()) return Usage(parser, QString::fromStdString(bad));
  const std::string& device = positional[1];
  const std::vector<std::string> files(positional.begin() + 2, positional.end());

  // The log first: the components log until they are destroyed.
  TvxLogFile log;
  TProgressLine progress(stderr, ::isatty(STDERR_FILENO) == 1);
  TModem modem(m);
  TvxCustomFileTransfer& transfer = modem.Transfer();
  std::string masks;
  if (sending) {
    if (files.empty()) return Usage(parser, "send needs at least one file");
    if (!m.Batch() && files.size() > 1)
      return Usage(parser, OneFileOnly(static_cast<int>(files.size())));
    int listed = 0;
    // Every name is checked before the line is opened: one that cannot be sent is a usage
    // error, and nothing crosses.
    for (const std::string& f : files) {
      if (const std::string why = UnsendableMask(transfer, f); !why.empty()) {
        std::cerr << kProgram << ": cannot send " << QuotedName(f) << ": " << why << "\n";
        return 2;
      }
      listed += transfer.FileList().Count();
      masks += (masks.empty() ? "" : ";") + f;
    }
    if (!m.Batch() && listed > 1) return Usage(parser, OneFileOnly(listed));
  } else {
    if (files.size() > 1)
      return Usage(parser, m.Batch() ? "receive takes one directory" : "receive takes one file");
    TTarget target{files.empty() ? "" : files[0], ""};
    if (!m.Batch()) {
      if (files.empty())
        return Usage(parser, "XMODEM carries no file name: receive needs the FILE to store it as");
      target = SplitTarget(files[0]);
      if (target.name.empty() || QFileInfo(QString::fromLocal8Bit(files[0])).isDir())
        return Usage(parser, "XMODEM receive needs a FILE to store as, not a directory");
      modem.xmodem->SetReceiveName(target.name);
    }
    // A bad directory is a usage error, found before the line is opened or anyone waits.
    const std::string dir = target.dir.empty() ? std::string(".") : target.dir;
    std::string reason;
    if (!vxWritableDirectory(dir, reason)) {
      std::cerr << kProgram << ": cannot receive into " << dir << ": " << reason << "\n";
      return 2;
    }
    transfer.SetDefaultPath(target.dir);
  }

  SetUpProgramLog(log, logChoice, kProgram, progress);
  TTransferRun run(kProgram, transfer, log, progress, logChoice.loud);
  if (!run.SetLine(device, line)) return Usage(parser, "bad port name");
  // XMODEM tells no length.
  if (!sending && !m.Batch()) run.SetSizeUnknown();
  if (!run.Open()) return 2;
  // The receiver starts a session by asking: its first ask may already wait on the line.
  const bool begun = run.Begin(
      [&] {
        if (sending)
          transfer.SendFiles(masks);
        else
          modem.Receive();
      },
      false);
  if (!begun) return 1;
  return run.Finish(0, 0);
}
