// The log of our transfer programs: the options --log, --log-level and --quiet, and the
// TvxLogFile they make. Its entries go to standard error (between progress lines) unless
// quiet, and to a file only with --log; without one nothing is kept, so the log never grows
// with the session.
//
// Thread: the program's main thread.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <string>

#include "commandline.h"
#include "progressline.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxlogfile.h"

// The log as the options give it.
struct TLogChoice {
  bool loud = true;  // not --quiet: progress, log entries and the summary are written
  std::string file;  // --log, as bytes; empty: none
  int level = 0;     // as TDetailLevel: simple, detail, debug
};

// The options themselves, made once; a program adds All() to its parser.
class TProgramLogOptions {
 public:
  TProgramLogOptions();
  // --log, --log-level, --quiet.
  QList<QCommandLineOption> All() const;
  // Reads the parsed values: empty when all are good, else the usage error.
  std::string Read(const QCommandLineParser& parser, const TRawArguments& raw,
                   TLogChoice& choice) const;

 private:
  QCommandLineOption file_, level_, quiet_;
};

// Sets Log up as Choice says, its entries shown through Progress (which outlives Log), and
// the components' debug lines to the terminal only when loud (the journal may keep them). A
// log file that cannot be written is said once, as PROGRAM: ..., and never stops the
// transfer.
void SetUpProgramLog(TvxLogFile& log, const TLogChoice& choice, const std::string& program,
                     TProgressLine& progress);
