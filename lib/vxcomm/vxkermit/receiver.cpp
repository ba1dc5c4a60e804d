// The receiving side of TvxKermit: the Send-Init answer, file header, attributes, data and
// end of file; every accepted packet is acknowledged by the dispatch.
#include <algorithm>
#include <limits>

#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/agreement.h"
#include "vxcomm/vxkermit/attributes.h"
#include "vxcomm/vxkermit/datamode.h"
#include "vxcomm/vxkermit/encoding.h"
#include "vxcomm/vxkermit/filename.h"
#include "vxcomm/vxkermit/textform.h"

namespace vxcomm {

using namespace vxkermit;

namespace {

std::string Hex2(unsigned v) {
  static const char digits[] = "0123456789ABCDEF";
  return {digits[(v >> 4) & 15], digits[v & 15]};
}

}  // namespace

void TvxKermit::ReceiveInit() {
  const std::uint8_t* data = RecvData();
  const std::size_t len = RecvDataLen();
  const TInitParams sender = ReadInitParams(data, len);
  std::string line = "INIT [S] Packet: ";
  line += static_cast<char>(sender[ipQbin]);
  line += " ";
  line += static_cast<char>(sender[ipChkt]);
  line += " = ";
  for (std::size_t i = 0; i + 2 < len; ++i)
    line += std::to_string(data[i]) + "/" + Hex2(data[i]) + " ";
  LogMsg(dlDebug, line);
  // Read before the session sizes its buffers, which may move the packet.
  const TAgreement agreed = AgreeOnSendInit(OwnTerms(false), data, len);
  init_block_ = agreed.answer;
  StartSession(fsReceive);
  ApplyAgreement(agreed);
}

std::ptrdiff_t TvxKermit::DecodeReceived() {
  const TPrefixes prefixes{QctlOf(init_params_), run_.qbin, run_.rept};
  const std::ptrdiff_t n =
      DecodeField(RecvData(), RecvDataLen(), prefixes, decode_buf_.data(), decode_buf_.size());
  if (n < 0) BadCheck();
  return n;
}

bool TvxKermit::ReceiveFileHeader() {
  const std::ptrdiff_t n = DecodeReceived();
  if (n < 0) return false;
  const std::string sent(reinterpret_cast<const char*>(decode_buf_.data()),
                         static_cast<std::size_t>(n));
  const std::string name = sent.substr(0, sent.find('\0'));
  LogMsg(dlDebug, "FILE HEADER [F] Packet! " + name);
  file_ = {};
  // A sender that does not know this side for a like system sends names converted.
  std::string local = ReceivedFileName(name);
  if (options_.name_conversion && !record_.peer_like) local = LocalNameOfConverted(local);
  try {
    OpenReceivedFile(local);
  } catch (const EFileStreamError& e) {
    RaiseFatalError(17, kFileFailure, e.Message());
  }
  return true;
}

void TvxKermit::ReceiveAttributes() {
  // ReceivedSize keeps its 32-bit range; progress takes the whole announced size.
  const std::int64_t announced = AnnouncedSize(RecvData(), RecvDataLen());
  SetReceivedSize(std::min<std::int64_t>(announced, std::numeric_limits<std::int32_t>::max()));
  SetTotalSize(announced);
  // The date decides an update (FileCollision) and, with FileDates, becomes the file's own.
  file_.received_date = ParseAttributeDate(GetAttribute('#'));
  file_.text = options_.text_conversion && FileTypeOf(RecvData(), RecvDataLen()) == TFileType::Text;
  file_.announced_exact = ExactSize(RecvData(), RecvDataLen());
  file_.announced_k = SizeInK(RecvData(), RecvDataLen());
  if (file_.text) LogMsg(dlDetail, FileName() + " is text: stored with LF line ends.");
  SettleReceivedFile();
  LogMsg(dlDebug,
         "FILE ATTRIBUTES [A] Packet! " + std::to_string(ReceivedSize()) + " " + GetAttribute('#'));
}

bool TvxKermit::ReceiveFileData() {
  std::ptrdiff_t n = DecodeReceived();
  if (n < 0) return false;
  if (file_.text) {
    const std::uint8_t* begin = decode_buf_.data();
    file_.wire_bytes += n;
    file_.wire_lf += std::count(begin, begin + n, std::uint8_t{'\n'});
    n = static_cast<std::ptrdiff_t>(
        StripCarriageReturns(decode_buf_.data(), static_cast<std::size_t>(n)));
  }
  try {
    if (!SettleWithoutAttributes()) {
      // No A packet to refuse it by: its first data acknowledgement asks the sender to skip
      // it, which a stream has none of.
      if (!data_mode_->AcknowledgesData()) {
        RaiseFatalError(17, kFileFailure, FileRefusal());
        return true;
      }
      skip_code_.assign(1, 'X');
    }
    if (TvxFileStream* file = FileStream()) file->Write(decode_buf_.data(), n);
  } catch (const EFileStreamError& e) {
    // Dropping the data would let the peer believe the file arrived whole.
    FailReceivedFile(e.Message());
    return true;
  }
  DoProgress();
  if (Logs(dlDebug)) LogMsg(dlDebug, "DATA [D] Packet! ");
  return true;
}

void TvxKermit::FailReceivedFile(const std::string& reason) {
  // What did not fit the disk is no part for a resend: it goes, and the space with it.
  KeepIncomingPartial(false);
  RaiseFatalError(17, kFileFailure, reason);
}

void TvxKermit::ReceiveEOF() {
  const bool discard = RecvDataLen() > 0 && RecvData()[0] == 'D';
  std::string text = "EOF [Z] Packet. Close File:  " + FileName();
  try {
    // An empty file that came without attributes is refused here, where the sender can no
    // longer be told.
    if (!file_.refused && !SettleWithoutAttributes())
      LogMsg(dlSimple, "The sender was not told: it gave no attributes and no data.");
    if (file_.refused) {
      text += " (refused)";
    } else if (discard) {
      SetFileOutcome(file_.skip_sent ? foSkippedByUs : foDiscarded,
                     file_.skip_sent ? "skipped by this side" : "discarded by the sender");
      DiscardIncomingFile();
      text += " with deletion!";
    } else {
      // A file cut short or grown on the way is not acknowledged as received.
      const std::string mismatch = LengthMismatch();
      if (!mismatch.empty()) return FailReceivedFile(mismatch);
      // Short of its announced length without a check: the sender ended it early.
      const std::string shortBy = ShortOfAnnounced();
      SetFileOutcome(shortBy.empty() ? foComplete : foSkippedByPeer, shortBy);
      // The end is acknowledged only for a file that is on disk whole, under its name.
      StoreIncomingFile(file_.received_date, options_.file_dates ? file_.received_date : -1);
    }
  } catch (const EFileStreamError& e) {
    FailReceivedFile(e.Message());
    return;
  }
  file_.refused = false;
  file_.received_date = -1;
  LogMsg(dlDebug, text);
}

std::string TvxKermit::LengthMismatch() {
  TvxFileStream* file = FileStream();
  if (!options_.check_lengths || file == nullptr) return {};
  const TArrived arrived{file->Size(), file_.text, file_.wire_bytes, file_.wire_lf};
  if (LengthAgrees(file_.announced_exact, file_.announced_k, arrived)) return {};
  const std::string announced = file_.announced_exact >= 0
                                    ? std::to_string(file_.announced_exact)
                                    : std::to_string(file_.announced_k) + " K";
  // The peer's E packet has room for the name, not for the directory.
  const std::string name = FileName().substr(FileName().rfind('/') + 1);
  return name + ": " + std::to_string(arrived.stored) + " bytes arrived, " + announced +
         " announced.";
}

std::string TvxKermit::ShortOfAnnounced() {
  TvxFileStream* file = FileStream();
  if (file == nullptr || file_.text) return {};
  const std::int64_t stored = file->Size();
  const TArrived arrived{stored, false, 0, 0};
  // Only fewer bytes than announced: the sender ended the file before its end.
  if (LengthAgrees(file_.announced_exact, file_.announced_k, arrived) ||
      (file_.announced_exact >= 0 ? stored > file_.announced_exact
                                  : stored > file_.announced_k * 1024))
    return {};
  const std::string announced = file_.announced_exact >= 0
                                    ? std::to_string(file_.announced_exact)
                                    : std::to_string(file_.announced_k) + " K";
  return "the sender ended it after " + std::to_string(stored) + " bytes of " + announced;
}

std::string TvxKermit::GetAttribute(char letter) const {
  return vxkermit::GetAttribute(RecvData(), RecvDataLen(), letter);
}

}  // namespace vxcomm
