// The questions one side of TvxZModem may ask the other about a file and the disk: the
// sender answers the receiver's ZCRC (after ZFILE) with the CRC-32 of the file's first
// bytes, and the receiver answers the sender's ZFREECNT with ZACK and the bytes free where
// it stores files.
#include <QStorageInfo>
#include <algorithm>
#include <limits>

#include "vxcomm/vxzmodem.h"

namespace vxcomm {

using namespace vxzmodem;

namespace {

// The file is read in pieces of this size for its CRC.
constexpr std::int64_t kCrcPiece = 16 * 1024;

}  // namespace

void TvxZModem::AnswerCrc(std::uint32_t count) {
  TvxFileStream* file = FileStream();
  const std::int64_t size = file->Size();
  // 0 (or more bytes than the file has) asks for the whole file.
  const std::int64_t want = count == 0 ? size : std::min<std::int64_t>(count, size);
  std::uint32_t crc = 0xFFFFFFFFu;
  chunk_.resize(static_cast<std::size_t>(kCrcPiece));
  try {
    file->Seek(0);
    for (std::int64_t done = 0; done < want;) {
      const std::int64_t n = std::min(kCrcPiece, want - done);
      if (file->Read(chunk_.data(), n) != n)
        return FileFailure(FileName() + " ended at " + std::to_string(done) + " of the " +
                           std::to_string(size) + " bytes it had.");
      crc = Crc32Update(crc, chunk_.data(), static_cast<std::size_t>(n));
      done += n;
    }
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  LogMsg(dlDetail, "ZCRC: the CRC of " + std::to_string(want) + " bytes of " + FileName() + ".");
  // The data goes from wherever ZRPOS asks: StartData seeks there.
  SendHex(THeader::At(ZCRC, ~crc));
  Arm(Timeout());
}

void TvxZModem::AnswerFreeCount() {
  const QStorageInfo disk(QString::fromStdString(DefaultPath().empty() ? "." : DefaultPath()));
  const std::int64_t free = disk.isValid() ? std::max<std::int64_t>(disk.bytesAvailable(), 0) : 0;
  const auto reach = static_cast<std::int64_t>(std::numeric_limits<std::uint32_t>::max());
  SendHex(THeader::At(ZACK, static_cast<std::uint32_t>(std::min(free, reach))));
  Arm(Timeout());
}

}  // namespace vxcomm
