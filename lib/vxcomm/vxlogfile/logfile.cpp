#include "vxcomm/vxlogfile/logfile.h"

#include <algorithm>

#include "vxcomm/platform/debugout.h"
#include "vxcomm/platform/localtime.h"
#include "vxcomm/platform/logfileio.h"
#include "vxcomm/platform/statedir.h"
#include "vxcomm/platform/sysinfo.h"
#include "vxcomm/rtl/textview.h"
#include "vxcomm/rtl/uiservices.h"
#include "vxcomm/vxlogfile/entrytext.h"
#include "vxcomm/vxlogfile/versiontext.h"

namespace vxcomm {

namespace {

// Without blanks and control characters at either end.
std::string Trim(const std::string& s) {
  auto blank = [](char ch) { return static_cast<unsigned char>(ch) <= ' '; };
  auto first = std::find_if_not(s.begin(), s.end(), blank);
  auto last = std::find_if_not(s.rbegin(), s.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

// The executable never moves while it runs, so its path is read once.
const std::string& ExecutablePath() {
  static const std::string path = vxExecutablePath();
  return path;
}

std::string WithExtension(const std::string& path, const std::string& ext) {
  std::size_t slash = path.rfind('/');
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
  return path.substr(0, dot) + ext;
}

}  // namespace

TvxLogFile::TvxLogFile(QObject* owner) : TvxCustomLogFile(owner) {}

TvxLogFile::~TvxLogFile() {
  Destroying();
  disconnect(pane_destroyed_);
  // In safe mode Buffer holds only entries whose save failed: they get one more try.
  if (!Options().Contains(loSafeMode) || !Buffer().empty()) {
    try {
      SaveToFile();
    } catch (const std::exception&) {
      // OnFatalError has seen the failure; a destructor cannot pass it on.
    }
    std::lock_guard lock(lock_);
    if (!buffer_.empty() && !ResolveFileName().empty())
      vxOutputDebugString("Unsaved log entries:" + buffer_);
  }
}

void TvxLogFile::AppendPrefix(std::string& out) {
  TvxInstant now = vxNow(options_.Contains(loMSec));
  if (now.seconds != stamp_second_ || options_ != stamp_options_) {
    stamp_second_ = now.seconds;
    stamp_options_ = options_;
    stamp_prefix_ =
        BuildEntryPrefix(options_, vxShortDateText(now.seconds), vxLongTimeText(now.seconds));
  }
  out += stamp_prefix_;
  if (options_.Contains(loMSec)) {  // the prefix ends with "+000] ": this instant's digits go there
    char* digits = out.data() + out.size() - 5;
    digits[0] = static_cast<char>('0' + now.msec / 100 % 10);
    digits[1] = static_cast<char>('0' + now.msec / 10 % 10);
    digits[2] = static_cast<char>('0' + now.msec % 10);
  }
}

void TvxLogFile::AddEntry(const std::string& s) {
  std::lock_guard lock(lock_);
  bool headerAdded = false;
  if (header_pending_) {
    header_pending_ = false;
    // The header's own save waits for this entry's: a failure then keeps both in Buffer
    // and is reported once, instead of losing this entry to the header's exception.
    struct HeaderEnds {
      bool& flag;
      ~HeaderEnds() { flag = false; }
    } ends{adding_header_};
    adding_header_ = true;
    AddHeader();
    headerAdded = true;
  }
  bool save = options_.Contains(loSafeMode) && !adding_header_;
  const std::string* text = &s;
  std::string changed;
  if (OnLogEntry) {
    changed = s;
    text = &changed;
    try {
      OnLogEntry(this, changed);
    } catch (...) {
      // A failing handler must not cost the entry: go on with the text it left.
    }
    if (changed.empty()) {
      if (headerAdded && save) SaveToFile();
      return;
    }
  }
  // The entry is built in place at the end of Buffer.
  std::size_t start = buffer_.size();
  buffer_ += "\r\n";
  AppendPrefix(buffer_);
  AppendEscaped(buffer_, *text);
  ++entry_count_;
  if (options_.Contains(loDebugOut)) vxOutputDebugString(buffer_.substr(start + 2));
  if (pane_) {
    try {
      pane_->AppendText(buffer_.substr(start));
    } catch (const std::exception&) {
      RaiseFatalError(0, 0, "");
    }
  }
  if (save) SaveToFile();
}

void TvxLogFile::AddHeader() {
  AddEntry("vxComm Lib " VXCOMM_VERSION " on " + GetVersionText(""));
}

void TvxLogFile::AddEntryAt(TDetailLevel level, const std::string& s) {
  std::lock_guard lock(lock_);  // held on into AddEntry, so it is taken once
  if (level <= detail_level_) AddEntry(s);
}

void TvxLogFile::AddFormatted(const std::string& fmt, const TVarRecs& args) {
  std::string s;
  try {
    s = Format(fmt, args);
  } catch (const EConvertError&) {
    s = "Log format ERROR!!!";
  }
  AddEntry(s);
}

void TvxLogFile::AddFormattedAt(TDetailLevel level, const std::string& fmt, const TVarRecs& args) {
  std::lock_guard lock(lock_);
  if (level <= detail_level_) AddFormatted(fmt, args);
}

void TvxLogFile::SaveToFile() {
  std::lock_guard lock(lock_);
  if (saving_) return;
  std::string path = ResolveFileName();
  if (path.empty()) return;
  // The text is taken out of Buffer while it is appended: entries that a handler adds
  // meanwhile start a new Buffer and wait for the next save.
  std::string pending;
  pending.swap(buffer_);
  unsigned clears = clear_count_;
  bool saved;
  {
    struct SavingEnds {
      bool& flag;
      ~SavingEnds() { flag = false; }
    } ends{saving_};
    saving_ = true;
    try {
      saved = AppendWithFallback(pending);
    } catch (...) {
      Restore(pending, clears);
      throw;
    }
  }
  if (!saved) {
    Restore(pending, clears);
    SaveFailed(path);
    return;  // the handler chose to go on: the text stays for the next save
  }
  failure_reported_ = false;
  if (buffer_.empty()) {  // keep the storage for the coming entries
    pending.clear();
    buffer_.swap(pending);
  }
}

bool TvxLogFile::AppendWithFallback(const std::string& text) {
  if (fallback_path_.empty() && AppendToFile(text)) return true;
  if (!state_dir_fallback_) return false;
  std::string dir = vxUserStateDirectory(), error;
  std::string path = ResolveFileName();
  if (dir.empty() || path.empty() || !vxMakeDirectories(dir, error)) return false;
  std::string previous = fallback_path_;
  std::size_t slash = path.rfind('/');
  fallback_path_ = dir + "/" + (slash == std::string::npos ? path : path.substr(slash + 1));
  if (AppendToFile(text)) return true;
  fallback_path_ = previous;
  return false;
}

void TvxLogFile::SaveFailed(const std::string& path) {
  if (report_save_error_once_) {
    if (size_limit_ > 0 && buffer_.size() > size_limit_)
      buffer_.erase(0, buffer_.size() - size_limit_);
    if (failure_reported_) return;
    failure_reported_ = true;
  }
  RaiseFatalError(0, 0, "Error when save log file:" + path);
}

void TvxLogFile::Restore(std::string& pending, unsigned clears) {
  if (clear_count_ != clears) return;  // ClearLog ran meanwhile: the text was dropped
  pending += buffer_;
  buffer_.swap(pending);
}

void TvxLogFile::ClearLog() {
  std::lock_guard lock(lock_);
  buffer_.clear();
  ++clear_count_;
  std::string path = FilePath();
  if (!path.empty()) vxDeleteFile(path);
}

std::string TvxLogFile::ResolveFileName() const {
  std::lock_guard lock(lock_);
  const std::string& exe = ExecutablePath();
  if (options_.Contains(loAutoFileName))
    return exe.empty() ? std::string() : WithExtension(exe, ".log");
  if (file_name_.empty()) return {};
  std::size_t slash = file_name_.rfind('/');
  std::size_t dirLength = slash == std::string::npos ? 0 : slash + 1;
  if (dirLength >= 2) return file_name_;
  // A bare name, or one under a lone separator, goes beside the executable.
  return exe.substr(0, exe.rfind('/') + 1) + file_name_.substr(dirLength);
}

bool TvxLogFile::AppendToFile(const std::string& text) {
  std::lock_guard lock(lock_);
  std::string path = Trim(FilePath());
  if (path.empty()) return false;
  TvxLogFileIO file;
  if (!file.Open(path, options_.Contains(loSharedLogFile) ? TvxLogFileIO::shDenyWrite
                                                          : TvxLogFileIO::shExclusive))
    return false;
  std::uint64_t length = text.size();
  if (size_limit_ > 0) {
    std::uint64_t size;
    if (!file.Size(size)) return false;
    length = std::min<std::uint64_t>(length, size_limit_);
    if (size + length > size_limit_) {
      if (OnReachLimit) OnReachLimit(this);
      std::uint64_t cut = size + length - size_limit_;  // at most Size, as Length <= SizeLimit
      if (!file.KeepNewest(size - cut)) return false;
    }
  }
  return file.Append(text.data(), static_cast<std::size_t>(length));
}

std::string TvxLogFile::FilePath() const {
  std::lock_guard lock(lock_);
  return fallback_path_.empty() ? ResolveFileName() : fallback_path_;
}

bool TvxLogFile::StateDirFallback() const {
  std::lock_guard lock(lock_);
  return state_dir_fallback_;
}

void TvxLogFile::SetStateDirFallback(bool value) {
  std::lock_guard lock(lock_);
  state_dir_fallback_ = value;
  if (!value) fallback_path_.clear();
}

bool TvxLogFile::LocalTextPane() const {
  std::lock_guard lock(lock_);
  return local_text_pane_;
}

void TvxLogFile::SetLocalTextPane(bool value) {
  std::lock_guard lock(lock_);
  local_text_pane_ = value;
  if (pane_) pane_->SetLocalText(value);
}

bool TvxLogFile::ReportSaveErrorOnce() const {
  std::lock_guard lock(lock_);
  return report_save_error_once_;
}

void TvxLogFile::SetReportSaveErrorOnce(bool value) {
  std::lock_guard lock(lock_);
  report_save_error_once_ = value;
}

Cardinal TvxLogFile::SizeLimit() const {
  std::lock_guard lock(lock_);
  return size_limit_;
}

void TvxLogFile::SetSizeLimit(Cardinal value) {
  std::lock_guard lock(lock_);
  size_limit_ = value;
}

std::string TvxLogFile::FileName() const {
  std::lock_guard lock(lock_);
  return file_name_;
}

void TvxLogFile::SetFileName(const std::string& value) {
  std::lock_guard lock(lock_);
  file_name_ = Trim(value);
}

QObject* TvxLogFile::VisualOut() const {
  std::lock_guard lock(lock_);
  return visual_out_;
}

void TvxLogFile::SetVisualOut(QObject* value) {
  if (value == VisualOut()) return;
  DropPane();
  if (!value) return;
  std::unique_ptr<TvxTextView> pane = UIServices().BindTextView(value);
  std::lock_guard lock(lock_);
  visual_out_ = value;
  pane_ = std::move(pane);
  if (pane_) pane_->SetLocalText(local_text_pane_);
  // A pane is no component: its destruction is watched through QObject. Taking the lock
  // lets an update under way on another thread finish before the pane goes.
  pane_destroyed_ = connect(
      value, &QObject::destroyed, this, [this] { DropPane(); }, Qt::DirectConnection);
}

void TvxLogFile::DropPane() {
  disconnect(pane_destroyed_);
  std::unique_ptr<TvxTextView> pane;
  {
    std::lock_guard lock(lock_);
    pane = std::move(pane_);
    visual_out_ = nullptr;
  }
}

bool TvxLogFile::Admits(TDetailLevel level) const {
  std::lock_guard lock(lock_);
  return level <= detail_level_;
}

TDetailLevel TvxLogFile::DetailLevel() const {
  std::lock_guard lock(lock_);
  return detail_level_;
}

void TvxLogFile::SetDetailLevel(TDetailLevel value) {
  std::lock_guard lock(lock_);
  detail_level_ = value;
}

TLogOptions TvxLogFile::Options() const {
  std::lock_guard lock(lock_);
  return options_;
}

void TvxLogFile::SetOptions(TLogOptions value) {
  std::lock_guard lock(lock_);
  options_ = value;
}

bool TvxLogFile::AnsiOnly() const {
  std::lock_guard lock(lock_);
  return ansi_only_;
}

void TvxLogFile::SetAnsiOnly(bool value) {
  std::lock_guard lock(lock_);
  ansi_only_ = value;
}

std::string TvxLogFile::Buffer() const {
  std::lock_guard lock(lock_);
  return buffer_;
}

int TvxLogFile::EntryCount() const {
  std::lock_guard lock(lock_);
  return entry_count_;
}

bool TvxLogFile::HeaderPending() const {
  std::lock_guard lock(lock_);
  return header_pending_;
}

}  // namespace vxcomm
