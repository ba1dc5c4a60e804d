#include "vxcomm/vxftbase/filestream.h"

#include <algorithm>
#include <cstring>

#include "vxcomm/platform/fileio.h"
#include "vxcomm/platform/fileopen.h"

namespace vxcomm {

namespace {

// The name for a message, which ends at its first NUL byte: such a byte shows as "\0".
std::string Shown(const std::string& name) {
  std::string shown;
  for (char c : name) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  return shown;
}

}  // namespace

TvxFileStream::TvxFileStream(const std::string& fileName, std::uint16_t mode)
    : file_name_(fileName) {
  // The name goes to the system as the bytes it is, whatever its encoding.
  int fdMode = vxOpenRead;
  if (mode == fmCreate)
    fdMode = vxOpenCreate;
  else if ((mode & 3) == fmOpenWrite)
    fdMode = vxOpenWrite;
  else if ((mode & 3) == fmOpenReadWrite)
    fdMode = vxOpenReadWrite;
  std::string error;
  fd_ = vxOpenFile(fileName, fdMode, error);
  writable_ = fdMode != vxOpenRead;
  if (fd_ >= 0) return;
  if (mode == fmCreate)
    throw EFCreateError("Cannot create file \"" + Shown(fileName) + "\". " + error);
  throw EFOpenError("Cannot open file \"" + Shown(fileName) + "\". " + error);
}

TvxFileStream::TvxFileStream(int fd, const std::string& fileName)
    : file_name_(fileName), fd_(fd), writable_(true) {}

TvxFileStream::~TvxFileStream() {
  try {
    Flush();
  } catch (const EFileStreamError&) {
    // A destructor cannot report; the caller that needs the outcome flushed before.
  }
  std::string ignored;
  vxCloseFile(fd_, ignored);
}

std::int64_t TvxFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  Flush();
  char* out = static_cast<char*>(buffer);
  std::int64_t done = 0;
  std::string error;
  while (done < count) {
    if (read_pos_ == read_end_) {
      // A request as large as the buffer goes straight to the file.
      if (count - done >= static_cast<std::int64_t>(BufferSize)) {
        const std::int64_t got = vxReadFile(fd_, out + done, count - done, error);
        if (got < 0) throw EReadError(Failure("Stream read error", error));
        file_pos_ += got;
        return done + got;
      }
      buffer_.resize(BufferSize);
      const std::int64_t got =
          vxReadFile(fd_, buffer_.data(), static_cast<std::int64_t>(BufferSize), error);
      if (got < 0) throw EReadError(Failure("Stream read error", error));
      file_pos_ += got;
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
  if (!writable_)
    throw EWriteError("Stream write error: \"" + file_name_ + "\". File not open for writing");
  if (read_end_ != 0) MoveTo(Position());
  const char* in = static_cast<const char*>(buffer);
  if (write_len_ + static_cast<std::size_t>(count) > BufferSize) Flush();
  if (static_cast<std::size_t>(count) >= BufferSize) {
    std::string error;
    if (!vxWriteFile(fd_, in, count, error))
      throw EWriteError(Failure("Stream write error", error));
    file_pos_ += count;
    return;
  }
  buffer_.resize(BufferSize);
  std::memcpy(buffer_.data() + write_len_, in, static_cast<std::size_t>(count));
  write_len_ += static_cast<std::size_t>(count);
}

void TvxFileStream::Flush() {
  if (write_len_ == 0) return;
  const auto n = static_cast<std::int64_t>(write_len_);
  // Cleared first: a failed flush is reported once, not again by the destructor.
  write_len_ = 0;
  std::string error;
  if (!vxWriteFile(fd_, buffer_.data(), n, error))
    throw EWriteError(Failure("Stream write error", error));
  file_pos_ += n;
}

void TvxFileStream::Sync() {
  Flush();
  std::string error;
  if (!vxSyncFile(fd_, error)) throw EWriteError(Failure("Stream write error", error));
}

void TvxFileStream::MoveTo(std::int64_t position) {
  Flush();
  read_pos_ = read_end_ = 0;
  std::string error;
  if (position < 0 || !vxSeekFile(fd_, position, error))
    throw EFileStreamError(Failure("Stream seek error", position < 0 ? "Invalid argument" : error));
  file_pos_ = position;
}

std::string TvxFileStream::Failure(const char* what, const std::string& reason) const {
  return std::string(what) + ": \"" + file_name_ + "\". " + reason;
}

std::int64_t TvxFileStream::Position() const {
  return file_pos_ + static_cast<std::int64_t>(write_len_) -
         static_cast<std::int64_t>(read_end_ - read_pos_);
}

void TvxFileStream::Seek(std::int64_t position) {
  // Inside the read-ahead the buffer only moves: the sender steps back over what did not
  // fit its packet.
  const std::int64_t bufferStart = file_pos_ - static_cast<std::int64_t>(read_end_);
  if (read_end_ != 0 && position >= bufferStart && position <= file_pos_) {
    read_pos_ = static_cast<std::size_t>(position - bufferStart);
    return;
  }
  MoveTo(position);
}

std::int64_t TvxFileStream::Size() const {
  std::string error;
  return std::max<std::int64_t>(vxFileSize(fd_, error),
                                file_pos_ + static_cast<std::int64_t>(write_len_));
}

std::int64_t TvxFileStream::ModifiedTime() const {
  return vxFileModifiedTime(fd_);
}

void TvxFileStream::SetSize(std::int64_t size) {
  MoveTo(Position());
  std::string error;
  if (!writable_ || !vxResizeFile(fd_, size, error))
    throw EWriteError(Failure("Stream size error", writable_ ? error : "Bad file descriptor"));
}

void TvxFileStream::SetFileDate(const QDateTime& dateTime) {
  // Pending writes would change the time again when they reach the file.
  Flush();
  const qint64 ms = dateTime.toMSecsSinceEpoch();
  std::string error;
  const qint64 seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  if (!vxSetFileTime(fd_, seconds, static_cast<long>(ms - seconds * 1000) * 1000000L, error))
    throw EFileStreamError("Cannot set the date of \"" + file_name_ + "\". " + error);
}

}  // namespace vxcomm
