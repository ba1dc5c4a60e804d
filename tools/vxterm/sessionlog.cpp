#include "sessionlog.h"

#include <QDateTime>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "display.h"

std::string IsoTimestamp() {
  const QDateTime now = QDateTime::currentDateTime();
  return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toStdString();
}

TSessionLog::~TSessionLog() {
  Close();
  Destroying();
}

bool TSessionLog::Open(const std::string& path, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "ae");
  if (!f) {
    error = std::strerror(errno);
    return false;
  }
  Close();
  std::lock_guard lock(mutex_);
  file_ = f;
  return true;
}

void TSessionLog::Close() {
  std::lock_guard lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool TSessionLog::IsOpen() const {
  std::lock_guard lock(mutex_);
  return file_ != nullptr;
}

void TSessionLog::AddEntry(const std::string& s) {
  std::string failure;
  {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    const std::string line = IsoTimestamp() + " " + LogText(s) + "\n";
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
      failure = std::strerror(errno);
      std::fclose(file_);
      file_ = nullptr;
    }
  }
  // Told outside the component's call that wrote the entry.
  if (!failure.empty() && onFailure)
    QTimer::singleShot(0, this, [this, failure] {
      if (onFailure) onFailure(failure);
    });
}

void TSessionLog::AddEntryAt(TDetailLevel level, const std::string& s) {
  if (Admits(level)) AddEntry(s);
}

void TSessionLog::AddFormatted(const std::string& fmt, const TVarRecs& args) {
  std::string s;
  try {
    s = Format(fmt, args);
  } catch (const std::exception&) {
    s = fmt;
  }
  AddEntry(s);
}

void TSessionLog::AddFormattedAt(TDetailLevel level, const std::string& fmt, const TVarRecs& args) {
  if (Admits(level)) AddFormatted(fmt, args);
}

void TSessionLog::SaveToFile() {
  std::lock_guard lock(mutex_);
  if (file_) std::fflush(file_);
}

bool TSessionLog::Admits(TDetailLevel level) const {
  return level <= dlSimple && IsOpen();
}
