// vxkermit: sends or receives files with the Kermit protocol over a serial line, for
// scripts on machines without a display. The line is a TvxComm, the log a TvxLogFile.
//
// Thread: everything runs on the main thread; the serial component hands its port events
// to it.
#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <iostream>

#include "commandline.h"
#include "lineoptions.h"
#include "programlog.h"
#include "progressline.h"
#include "sendnames.h"
#include "transferrun.h"
#include "vxcomm/platform/fileopen.h"
#include "vxcomm/unqualified.h"
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
  return UsageError("vxkermit", parser, error);
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
  const TLineOptions shared;
  const TProgramLogOptions logOptions;
  const QCommandLineOption wait("wait",
                                "receive: give up, with status 1, when no session has started "
                                "after this many seconds (default 0: wait for ever).",
                                "s", "0");
  QList<QCommandLineOption> options = shared.Line() + shared.Kermit();
  options << wait << logOptions.All();
  const QString badLine =
      ParseProgramLine(parser, kDescription, options,
                       {{"command", "send, resend or receive"},
                        {"DEVICE", "the serial device"},
                        {"MASK.../DIR", "files to send, or the directory to receive into"}});
  if (!badLine.isEmpty()) return Usage(parser, badLine);

  const QStringList args = parser.positionalArguments();
  const TRawArguments raw = SplitRaw(argc, argv, options);
  const std::vector<std::string> positional = PositionalBytes(parser, raw);
  Options o;
  if (args.size() < 2) return Usage(parser, "a command and a device are needed");
  if (args[0] == "send" || args[0] == "resend") {
    o.send = true;
    o.resend = args[0] == "resend";
    if (args.size() < 3) return Usage(parser, args[0] + " needs at least one mask");
    o.masks.assign(positional.begin() + 2, positional.end());
  } else if (args[0] == "receive") {
    if (args.size() > 3) return Usage(parser, "receive takes one directory");
    o.dir = args.size() == 3 ? positional[2] : "";
  } else {
    return Usage(parser, "unknown command " + args[0]);
  }
  o.device = positional[1];

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
  TLogChoice logChoice;
  if (const std::string bad = logOptions.Read(parser, raw, logChoice); !bad.empty())
    return Usage(parser, QString::fromStdString(bad));

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
  TProgressLine progress(stderr, ::isatty(STDERR_FILENO) == 1);
  SetUpProgramLog(log, logChoice, "vxkermit", progress);
  TvxKermit kermit;
  TTransferRun run("vxkermit", kermit, log, progress, logChoice.loud);
  if (!run.SetLine(o.device, line)) return Usage(parser, "bad port name");
  ApplyKermitSettings(kermit, k, line.dataBits);
  kermit.SetDefaultPath(o.dir);
  // A recovered file's progress counts what crosses the line, not what was there before.
  run.SetAlreadyThere([&kermit] { return kermit.RecoveredLength(); });
  // Text the far end prints between packets: shown when the transfer fails.
  run.KeepFarEndText();
  if (!run.Open()) return 2;

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
    const bool begun = run.Begin(
        [&] {
          if (o.resend)
            kermit.ResendFiles(masks);
          else
            kermit.SendFiles(masks);
        },
        true);
    if (!begun) return 1;
  }
  return run.Finish(refused, o.send ? 0 : waitSec);
}
