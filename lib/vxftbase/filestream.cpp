#include "vxftbase/filestream.h"

#include <QFileInfo>

namespace {

QString LocalName(const std::string& name) {
  return QFile::decodeName(QByteArray::fromStdString(name));
}

std::string Reason(const QFile& file) {
  return file.errorString().toLocal8Bit().toStdString();
}

}  // namespace

TvxFileStream::TvxFileStream(const std::string& fileName, std::uint16_t mode)
    : file_name_(fileName), file_(LocalName(fileName)) {
  QIODevice::OpenMode qmode = QIODevice::ReadOnly;
  if (mode == fmCreate)
    qmode = QIODevice::ReadWrite | QIODevice::Truncate;
  else if ((mode & 3) == fmOpenWrite)
    qmode = QIODevice::WriteOnly | QIODevice::ExistingOnly;
  else if ((mode & 3) == fmOpenReadWrite)
    qmode = QIODevice::ReadWrite | QIODevice::ExistingOnly;
  // A directory opens as a file on Linux; it cannot be transferred.
  if (QFileInfo::exists(file_.fileName()) && QFileInfo(file_.fileName()).isDir()) {
    if (mode == fmCreate)
      throw EFCreateError("Cannot create file \"" + fileName + "\". Is a directory");
    throw EFOpenError("Cannot open file \"" + fileName + "\". Is a directory");
  }
  if (!file_.open(qmode | QIODevice::Unbuffered)) {
    if (mode == fmCreate)
      throw EFCreateError("Cannot create file \"" + fileName + "\". " + Reason(file_));
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + Reason(file_));
  }
}

std::int64_t TvxFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  qint64 got = file_.read(static_cast<char*>(buffer), count);
  if (got < 0) throw EReadError("Stream read error: \"" + file_name_ + "\". " + Reason(file_));
  return got;
}

void TvxFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return;
  if (file_.write(static_cast<const char*>(buffer), count) != count)
    throw EWriteError("Stream write error: \"" + file_name_ + "\". " + Reason(file_));
}

void TvxFileStream::Seek(std::int64_t position) {
  if (!file_.seek(position))
    throw EFileStreamError("Stream seek error: \"" + file_name_ + "\". " + Reason(file_));
}

void TvxFileStream::SetSize(std::int64_t size) {
  if (!file_.resize(size))
    throw EWriteError("Stream size error: \"" + file_name_ + "\". " + Reason(file_));
}

void TvxFileStream::SetFileDate(const QDateTime& dateTime) {
  if (!file_.setFileTime(dateTime, QFileDevice::FileModificationTime))
    throw EFileStreamError("Cannot set the date of \"" + file_name_ + "\". " + Reason(file_));
}
