/// @file
/// The open transfer file: a binary file stream with 64-bit positions whose failures are
/// exceptions naming the file. Reads and writes go through one fixed buffer, so a packet's
/// worth of data costs no system call; a write failure may show at a later call or at
/// Flush, never not at all.
///
/// Thread: none; the owner's thread.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <QDateTime>
#include <cstdint>
#include <string>
#include <vector>

#include "vxcomm/rtl/sysutils.h"

namespace vxcomm {

/// Open mode: an existing file, for reading.
inline constexpr std::uint16_t fmOpenRead = 0x0000;
/// Open mode: an existing file, for writing.
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
/// Open mode: an existing file, for reading and writing.
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
/// Creates the file, replacing one of the same name; opened for reading and writing.
inline constexpr std::uint16_t fmCreate = 0xFFFF;

/// A failure of a transfer file; the message names the file and the system's reason.
class VXCOMM_EXPORT EFileStreamError : public Exception {
 public:
  using Exception::Exception;
};
/// A file could not be opened.
class VXCOMM_EXPORT EFOpenError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
};
/// A file could not be created.
class VXCOMM_EXPORT EFCreateError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
};
/// A read failed.
class VXCOMM_EXPORT EReadError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
};
/// A write (or a change of size) failed.
class VXCOMM_EXPORT EWriteError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
};

/// The open transfer file (see the file description).
class VXCOMM_EXPORT TvxFileStream : public TObject {
 public:
  /// The size of the one buffer of reads and writes.
  static constexpr std::size_t BufferSize = 64 * 1024;

  /// FileName is the file's name as the system's bytes, whatever their encoding; a
  /// directory is refused. Throws EFOpenError (or EFCreateError with fmCreate) with the
  /// system's reason: Cannot open file "NAME". No such file or directory (a NUL byte, which
  /// no file name holds, shows there as "\0").
  /// Opens FileName with Mode (fmOpenRead, fmOpenWrite, fmOpenReadWrite or fmCreate).
  TvxFileStream(const std::string& fileName, std::uint16_t mode);
  /// Adopts the open descriptor Fd of the regular file FileName, at its start, for reading
  /// and writing; the stream closes it.
  TvxFileStream(int fd, const std::string& fileName);
  TvxFileStream(const TvxFileStream&) = delete;
  TvxFileStream& operator=(const TvxFileStream&) = delete;
  /// Writes what is still buffered; a failure here is lost, so callers that must know
  /// call Flush first.
  ~TvxFileStream() override;

  /// The file's name as given.
  const std::string& FileName() const { return file_name_; }
  /// Up to Count bytes; fewer only at the end of the file. Throws EReadError on failure.
  std::int64_t Read(void* buffer, std::int64_t count);
  /// All Count bytes or EWriteError.
  void Write(const void* buffer, std::int64_t count);
  /// Hands the buffered writes to the file; throws EWriteError on failure.
  void Flush();
  /// Flushes, then makes the system hand the file's data to the device, so that a failure
  /// it defers (a full disk, a quota, an I/O error) is seen now; throws EWriteError.
  void Sync();
  /// The position, buffered reads and writes counted.
  std::int64_t Position() const;
  /// Throws EFileStreamError when the position cannot be reached.
  void Seek(std::int64_t position);
  /// The size, buffered writes counted.
  std::int64_t Size() const;
  /// Truncates or extends the file; throws EWriteError on failure.
  void SetSize(std::int64_t size);
  /// The file's modification time; throws EFileStreamError on failure.
  void SetFileDate(const QDateTime& dateTime);
  /// The file's modification time in seconds since the epoch; -1 when it cannot be read.
  std::int64_t ModifiedTime() const;

 private:
  /// Writes what is pending, drops the read-ahead and puts the file at Position.
  void MoveTo(std::int64_t position);
  /// Text for an exception: What, the file name and the system's Reason.
  std::string Failure(const char* what, const std::string& reason) const;

  std::string file_name_;
  int fd_ = -1;
  bool writable_ = false;
  std::int64_t file_pos_ = 0;  ///< the descriptor's own position
  std::vector<char> buffer_;   ///< BufferSize bytes once the first read or write needs them
  /// Either read-ahead (buffer_[read_pos_, read_end_) lies before the file's position) or
  /// pending writes (write_len_ bytes to go at the file's position); never both.
  std::size_t read_pos_ = 0;
  std::size_t read_end_ = 0;
  std::size_t write_len_ = 0;
};

}  // namespace vxcomm
