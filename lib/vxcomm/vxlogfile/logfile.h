/// @file
/// The log file component (TvxLogFile).
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <QMetaObject>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "vxcomm/vxclasses/logsink.h"
#include "vxcomm/vxlogfile/logoptions.h"

namespace vxcomm {

class TvxTextView;

/// Sees, and may change or empty (which drops the entry), each message before formatting.
using TOnLogEntry = std::function<void(TObject* sender, std::string& logEntry)>;

/// The log file component: time-stamped entries kept in memory, appended to a log file
/// whose size it bounds, mirrored into a text pane and to the debugger output.
///
/// **Threads.** Any thread may log, save or clear: one re-entrant lock guards every member
/// and makes each entry (formatting, Buffer, EntryCount, the pane update and the safe-mode
/// save) and each append to the file atomic. OnLogEntry, OnReachLimit and OnFatalError run
/// under that lock on the logging thread; set them before logging from other threads. The
/// pane binding queues its updates to the pane's thread, so a worker thread never touches
/// the widget. SetVisualOut and destruction belong to the thread of the pane (the main
/// thread); every other member may be called from any thread.
///
/// **Failures.** Logging never throws for a file that cannot be written: a failed save keeps
/// the entries in Buffer and reports "Error when save log file:" with the path through
/// OnFatalError (once per run of failures with ReportSaveErrorOnce; elsewhere with
/// StateDirFallback). A format that does not fit its arguments logs "Log format ERROR!!!".
/// What OnLogEntry throws is dropped and the entry kept as the handler left it; what
/// OnReachLimit throws reaches the caller of the save, with the entries kept in Buffer.
class VXCOMM_EXPORT TvxLogFile : public TvxCustomLogFile {
  Q_OBJECT
  Q_PROPERTY(uint SizeLimit READ SizeLimit WRITE SetSizeLimit)
  Q_PROPERTY(QString FileName READ QFileName WRITE SetQFileName)
  Q_PROPERTY(QObject* VisualOut READ VisualOut WRITE SetVisualOut)
  Q_PROPERTY(bool AnsiOnly READ AnsiOnly WRITE SetAnsiOnly)

 public:
  /// The default SizeLimit in bytes.
  static constexpr Cardinal kDefaultSizeLimit = 204800;
  /// The default Options.
  static constexpr TLogOptions kDefaultOptions{loSafeMode, loAutoFileName, loDate, loTime,
                                               loDebugOut};

  /// Creates an empty log owned by Owner, with the default options and limits.
  explicit TvxLogFile(QObject* owner = nullptr);
  /// Saves what is buffered (in safe mode: what an earlier save failed to write). A
  /// failure of that save reaches OnFatalError, and the unsaved text goes to the debugger
  /// output; it cannot be raised.
  ~TvxLogFile() override;

  /// Appends Buffer to the log file and empties it. On failure Buffer stays whole and
  /// RaiseFatalError(0, 0, "Error when save log file:" + path) follows. Without a path
  /// nothing happens. A save asked for while one runs on this thread (from OnReachLimit)
  /// leaves its entries for the next save.
  void SaveToFile() override;
  /// Empties Buffer and deletes the log file.
  void ClearLog() override;
  /// Formats and adds one entry, after the header when it is the first.
  void AddEntry(const std::string& s) override;
  /// Adds the entry "vxComm Lib <version> on <operating system>".
  void AddHeader() override;
  /// Adds S (as AddEntry) when Level is within DetailLevel.
  void AddEntryAt(TDetailLevel level, const std::string& s) override;
  /// A format that does not fit its arguments adds "Log format ERROR!!!" instead.
  void AddFormatted(const std::string& fmt, const TVarRecs& args) override;
  /// Adds the formatted entry (as AddFormatted) when Level is within DetailLevel.
  void AddFormattedAt(TDetailLevel level, const std::string& fmt, const TVarRecs& args) override;
  /// True when Level is within DetailLevel.
  bool Admits(TDetailLevel level) const override;

  /// Bytes the file may hold after an append; 0 for no bound. Default 204800.
  Cardinal SizeLimit() const;
  /// Sets SizeLimit; used from the next append.
  void SetSizeLimit(Cardinal value);
  /// Stored without leading and trailing blanks and control characters. A name without a
  /// directory (or with a lone "/") is placed beside the executable; loAutoFileName
  /// ignores it. Default "duvevoder.log".
  std::string FileName() const;
  /// Sets FileName, trimmed as FileName tells.
  void SetFileName(const std::string& value);
  /// The log pane: any text view the installed UI services can bind (a QPlainTextEdit, a
  /// QTextEdit or a QLineEdit with the widgets layer). Not owned; forgotten when it is
  /// destroyed.
  QObject* VisualOut() const;
  /// Binds Value (null unbinds) as the log pane through the installed UI services; not owned. A
  /// view they cannot bind is kept but shows nothing. Thread of the pane.
  void SetVisualOut(QObject* value);
  /// The most detailed level logged; entries of a higher level are dropped. dlSimple by default.
  TDetailLevel DetailLevel() const;
  /// Sets DetailLevel.
  void SetDetailLevel(TDetailLevel value);
  /// The options (kDefaultOptions by default).
  TLogOptions Options() const;
  /// Sets the options; used from the next entry or save.
  void SetOptions(TLogOptions value);
  /// Kept for stored forms: entries are written as their bytes whatever its value.
  bool AnsiOnly() const;
  /// Sets AnsiOnly.
  void SetAnsiOnly(bool value);

  /// Off by default. On: when the log file cannot be written where ResolveFileName puts it (a
  /// program folder that is read-only), the entries go to a file of the same name in the
  /// user's state directory ($XDG_STATE_HOME/vxcomm, else ~/.local/state/vxcomm), created when
  /// missing; the first place is tried again at each save until the state directory took one.
  bool StateDirFallback() const;
  /// Sets StateDirFallback.
  void SetStateDirFallback(bool value);
  /// Off by default. On: a save that fails calls RaiseFatalError only when no failure was
  /// reported since the last save that succeeded, and while saves fail Buffer keeps only its
  /// newest SizeLimit bytes (when SizeLimit bounds the file), so a log that cannot be written
  /// is reported once and costs bounded memory.
  bool ReportSaveErrorOnce() const;
  /// Sets ReportSaveErrorOnce.
  void SetReportSaveErrorOnce(bool value);
  /// Off by default: the pane shows each byte of an entry as one Latin-1 character. On: it
  /// reads the entries as text in the local 8-bit encoding, so the file names in them show
  /// as the file system names them. The file gets the bytes either way.
  bool LocalTextPane() const;
  /// Sets LocalTextPane; takes effect at the next entry shown.
  void SetLocalTextPane(bool value);
  /// The file the entries are written to now: ResolveFileName's, or its place in the state
  /// directory once StateDirFallback moved it there; empty when there is no file.
  std::string FilePath() const;

  /// Formatted entries not yet saved.
  std::string Buffer() const;
  /// Entries added since creation, the header included.
  int EntryCount() const;
  /// True until the first entry has brought the header.
  bool HeaderPending() const;

  TNotifyEvent OnReachLimit;  ///< an append is about to cut the oldest bytes
  /// Sees each message before formatting (see TOnLogEntry); runs under the lock on the logging
  /// thread.
  TOnLogEntry OnLogEntry;

 protected:
  /// The full path of the log file; empty when there is none.
  std::string ResolveFileName() const;
  /// Appends Text to the log file under the size bound, cutting its oldest bytes; false
  /// when the file cannot be created, opened, locked, read, cut or written.
  bool AppendToFile(const std::string& text);

 private:
  /// AppendToFile, then with StateDirFallback its place in the state directory.
  bool AppendWithFallback(const std::string& text);
  /// A failed save: reported (or not, after ReportSaveErrorOnce) with Path in the message.
  void SaveFailed(const std::string& path);

  QString QFileName() const { return QString::fromLocal8Bit(FileName()); }
  void SetQFileName(const QString& value) { SetFileName(value.toLocal8Bit().toStdString()); }
  /// Appends the time-stamp prefix of this instant to Out.
  void AppendPrefix(std::string& out);
  void DropPane();
  /// Puts the text of a failed save back in front of Buffer, unless ClearLog ran since.
  void Restore(std::string& pending, unsigned clears);

  mutable std::recursive_mutex lock_;
  std::string buffer_;
  Cardinal size_limit_ = kDefaultSizeLimit;
  std::string file_name_ = "duvevoder.log";
  TDetailLevel detail_level_ = dlSimple;
  TLogOptions options_ = kDefaultOptions;
  int entry_count_ = 0;
  bool header_pending_ = true;
  bool ansi_only_ = true;
  bool saving_ = false;         ///< an append of Buffer is under way on the lock's owner
  bool adding_header_ = false;  ///< the header entry is being added before another entry
  /// The prefix of stamp_second_ under stamp_options_, formatted once a second, not per
  /// entry (with "000" for the milliseconds).
  std::int64_t stamp_second_ = -1;
  TLogOptions stamp_options_;
  std::string stamp_prefix_;
  bool state_dir_fallback_ = false;
  bool report_save_error_once_ = false;
  bool local_text_pane_ = false;
  bool failure_reported_ = false;  ///< a failed save was reported and none succeeded since
  std::string fallback_path_;      ///< where StateDirFallback writes; empty until it did
  unsigned clear_count_ = 0;       ///< ClearLog calls, so that a failed save does not undo one
  QObject* visual_out_ = nullptr;
  std::unique_ptr<TvxTextView> pane_;  ///< the binding to visual_out_
  QMetaObject::Connection pane_destroyed_;
};

}  // namespace vxcomm
