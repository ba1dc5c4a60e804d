#include "vxftbase/filestream.h"

#include <algorithm>
#include <cstring>

#include "platform/fileopen.h"
#include "platform/handles.h"

namespace {

std::string Reason(const QFile& file) {
  return file.errorString().toLocal8Bit().toStdString();
}

// The name for a message, which ends at its first NUL byte: such a byte shows as "\0".
std::string Shown(const std::string& name) {
  std::string shown;
  for (char c : name) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  return shown;
}

}  // namespace

TvxFileStream::TvxFileStream(const std::string& fileName, std::uint16_t mode)
    : file_name_(fileName) {
  // The name goes to the system as the bytes it is; a QFile by name would go through a
  // QString, which has no room for a name that is not valid in the locale.
  int fdMode = vxOpenRead;
  QIODevice::OpenMode qmode = QIODevice::ReadOnly;
  if (mode == fmCreate) {
    fdMode = vxOpenCreate;
    qmode = QIODevice::ReadWrite;
  } else if ((mode & 3) == fmOpenWrite) {
    fdMode = vxOpenWrite;
    qmode = QIODevice::WriteOnly;
  } else if ((mode & 3) == fmOpenReadWrite) {
    fdMode = vxOpenReadWrite;
    qmode = QIODevice::ReadWrite;
  }
  std::string error;
  const int fd = vxOpenFile(fileName, fdMode, error);
  if (fd >= 0) {
    if (file_.open(fd, qmode | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) return;
    // Not adopted: the descriptor is still ours to close.
    error = Reason(file_);
    vxCloseHandle(fd);
  }
  if (mode == fmCreate)
    throw EFCreateError("Cannot create file \"" + Shown(fileName) + "\". " + error);
  throw EFOpenError("Cannot open file \"" + Shown(fileName) + "\". " + error);
}

TvxFileStream::~TvxFileStream() {
  try {
    Flush();
  } catch (const EFileStreamError&) {
    // A destructor cannot report; the caller that needs the outcome flushed before.
  }
}

std::int64_t TvxFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  Flush();
  char* out = static_cast<char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    if (read_pos_ == read_end_) {
      // A request as large as the buffer goes straight to the file.
      if (count - done >= static_cast<std::int64_t>(BufferSize)) {
        qint64 got = file_.read(out + done, count - done);
        if (got < 0) throw EReadError(Failure("Stream read error"));
        return done + got;
      }
      buffer_.resize(BufferSize);
      qint64 got = file_.read(buffer_.data(), static_cast<qint64>(BufferSize));
      if (got < 0) throw EReadError(Failure("Stream read error"));
      read_pos_ = 0;
      read_end_ = static_cast<std::size_t>(got);
      if (got == 0) break;
    }
    const std::size_t n = std::min(read_end_ - read_pos_, static_cast<std::size_t>(count - done));
    std::memcpy(out + done, buffer_.data() + read_pos_, n);
    read_pos_ += n;
    done += static_cast<std::int64_t>(n);
  }
  return done;
}

void TvxFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return;
  // Refused at once, not at the flush: nothing of the file is writable.
  if (!(file_.openMode() & QIODevice::WriteOnly))
    throw EWriteError("Stream write error: \"" + file_name_ + "\". File not open for writing");
  if (read_end_ != 0) MoveTo(Position());
  const char* in = static_cast<const char*>(buffer);
  if (write_len_ + static_cast<std::size_t>(count) > BufferSize) Flush();
  if (static_cast<std::size_t>(count) >= BufferSize) {
    if (file_.write(in, count) != count) throw EWriteError(Failure("Stream write error"));
    return;
  }
  buffer_.resize(BufferSize);
  std::memcpy(buffer_.data() + write_len_, in, static_cast<std::size_t>(count));
  write_len_ += static_cast<std::size_t>(count);
}

void TvxFileStream::Flush() {
  if (write_len_ == 0) return;
  const qint64 n = static_cast<qint64>(write_len_);
  // Cleared first: a failed flush is reported once, not again by the destructor.
  write_len_ = 0;
  if (file_.write(buffer_.data(), n) != n) throw EWriteError(Failure("Stream write error"));
}

void TvxFileStream::MoveTo(std::int64_t position) {
  Flush();
  read_pos_ = read_end_ = 0;
  if (!file_.seek(position)) throw EFileStreamError(Failure("Stream seek error"));
}

std::string TvxFileStream::Failure(const char* what) const {
  return std::string(what) + ": \"" + file_name_ + "\". " + Reason(file_);
}

std::int64_t TvxFileStream::Position() const {
  return file_.pos() + static_cast<std::int64_t>(write_len_) -
         static_cast<std::int64_t>(read_end_ - read_pos_);
}

void TvxFileStream::Seek(std::int64_t position) {
  // Inside the read-ahead the buffer only moves: the sender steps back over what did not
  // fit its packet.
  const std::int64_t bufferStart = file_.pos() - static_cast<std::int64_t>(read_end_);
  if (read_end_ != 0 && position >= bufferStart && position <= file_.pos()) {
    read_pos_ = static_cast<std::size_t>(position - bufferStart);
    return;
  }
  MoveTo(position);
}

std::int64_t TvxFileStream::Size() const {
  return std::max<std::int64_t>(file_.size(), file_.pos() + static_cast<std::int64_t>(write_len_));
}

void TvxFileStream::SetSize(std::int64_t size) {
  MoveTo(Position());
  if (!file_.resize(size)) throw EWriteError(Failure("Stream size error"));
}

void TvxFileStream::SetFileDate(const QDateTime& dateTime) {
  // Pending writes would change the time again when they reach the file.
  Flush();
  if (!file_.setFileTime(dateTime, QFileDevice::FileModificationTime))
    throw EFileStreamError("Cannot set the date of \"" + file_name_ + "\". " + Reason(file_));
}
