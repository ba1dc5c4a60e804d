#include "programlog.h"

#include <iostream>

#include "vxcomm/platform/debugout.h"

namespace {

const QStringList& LevelNames() {
  static const QStringList names = {"simple", "detail", "debug"};
  return names;
}

}  // namespace

TProgramLogOptions::TProgramLogOptions()
    : file_("log", "Write the log to this file as well.", "file"),
      level_("log-level", "Log detail: simple, detail or debug (default simple).", "level",
             "simple"),
      quiet_("quiet", "Print nothing but errors: no progress, log or summary.") {}

QList<QCommandLineOption> TProgramLogOptions::All() const {
  return {file_, level_, quiet_};
}

std::string TProgramLogOptions::Read(const QCommandLineParser& parser, const TRawArguments& raw,
                                     TLogChoice& choice) const {
  choice.level = static_cast<int>(LevelNames().indexOf(parser.value(level_)));
  if (choice.level < 0) return "bad --log-level";
  choice.loud = !parser.isSet(quiet_);
  choice.file = OptionBytes(parser, raw, "log");
  return {};
}

void SetUpProgramLog(TvxLogFile& log, const TLogChoice& choice, const std::string& program,
                     TProgressLine& progress) {
  vxSetDebugOutputEnabled(choice.loud || vxDebugOutputToJournal());
  const bool toFile = !choice.file.empty();
  log.SetOptions(toFile ? TLogOptions{loSafeMode, loDate, loTime, loMSec} : TLogOptions{});
  log.SetSizeLimit(0);
  log.SetDetailLevel(static_cast<TDetailLevel>(choice.level));
  // Without --log no file at all: not even an empty one beside the program.
  log.SetFileName(choice.file);
  log.SetReportSaveErrorOnce(true);
  log.OnFatalError = [program](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    std::cerr << program << ": " << msg << "; the transfer goes on without the log file\n";
  };
  log.OnLogEntry = [&progress, loud = choice.loud, toFile](TObject*, std::string& entry) {
    if (loud) {
      progress.Break();
      std::cerr << entry << "\n";
    }
    if (!toFile) entry.clear();
  };
}
