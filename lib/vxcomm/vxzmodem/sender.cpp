// The sending side of TvxZModem around the data: ZRQINIT until the receiver's ZRINIT, for
// each listed file a ZFILE until the receiver asks for its data (ZRPOS) or skips it (ZSKIP),
// the file's end acknowledged by the next ZRINIT, and ZFIN, answered by ZFIN and "OO".
#include <algorithm>

#include "vxcomm/vxymodem/header.h"
#include "vxcomm/vxzmodem.h"

namespace vxcomm {

using namespace vxzmodem;

void TvxZModem::SendFiles(const std::string& mask) {
  if (State() != fsListen) return LogMsg(dlSimple, "A transfer is running: " + mask + " waits.");
  BuildFileList(mask);
  if (FileList().Empty()) return RaiseFatalError(17, 6, "There are no files for transmission.");
  LogMsg(dlSimple, mask);
  StartSession(TStep::kSendInit, true);
  SendHex(THeader::At(ZRQINIT, 0));
  Arm(Timeout());
}

void TvxZModem::TakeReceiverInit(const THeader& header) {
  const std::uint8_t caps = header.F(0);
  crc32_in_use_ = crc32_ && (caps & kCanFc32);
  encoder_.SetEscapeControls(escape_controls_ || (caps & kEscCtl));
  rx_buffer_ = header.data[0] | (header.data[1] << 8);
  LogMsg(dlDetail, std::string("The receiver takes ") + (crc32_in_use_ ? "CRC-32" : "CRC-16") +
                       (rx_buffer_ > 0 ? ", " + std::to_string(rx_buffer_) + " bytes at a time"
                                       : std::string(", a stream")) +
                       ((caps & kEscCtl) ? ", every control character escaped." : "."));
  // The waits for the receiver were the start's: the first file has its own tries.
  SetErrorCount(0);
  ResetRetries();
  SendNextFile();
}

void TvxZModem::SenderHeader(const THeader& header) {
  switch (header.type) {
    case ZRINIT:
      switch (step_) {
        case TStep::kSendInit:
          return TakeReceiverInit(header);
        case TStep::kSendEof:
          LogMsg(dlSimple, "ZEOF acknowledged: " + FileName());
          return FileSent(foComplete, {});
        default:
          // One the receiver sent before it saw our last header (its own start, its answer
          // to ZRQINIT): answering it would send that header twice, and each of them is
          // answered. A header that went astray goes again at the time-out or the ZNAK.
          return;
      }
    case ZRPOS:
      if (step_ == TStep::kSendFile) {
        ResetRetries();
        // What the receiver holds already (a resumed file) does not cross.
        from_ = header.Position();
        asked_ = header.Position();
        block_ = subpacket_size_;
        return StartData(header.Position());
      }
      if (step_ == TStep::kSendData || step_ == TStep::kSendWait || step_ == TStep::kSendEof) {
        LogMsg(dlDetail,
               "The receiver asks for the data from " + std::to_string(header.Position()) + ".");
        ++repeats_;
        // The receiver got further since it last asked: the tries start anew there, and
        // the subpackets grow again. Asked again from the same place, they shrink: on a bad
        // line a short one gets through where a long one does not.
        if (header.Position() > asked_) {
          ResetRetries();
          block_ = std::min(subpacket_size_, block_ * 2);
        } else {
          block_ = std::max(kMinSubpacket, block_ / 2);
        }
        asked_ = std::max<std::int64_t>(asked_, header.Position());
        if (!CountError()) return;
        return StartData(header.Position());
      }
      return;
    case ZACK:
      if (step_ == TStep::kSendWait && header.Position() == send_pos_) {
        ResetRetries();
        return StartData(static_cast<std::uint32_t>(send_pos_));
      }
      return;
    case ZSKIP:
      if (step_ == TStep::kSendFile || step_ == TStep::kSendData || step_ == TStep::kSendWait ||
          step_ == TStep::kSendEof) {
        LogMsg(dlSimple, "The receiver skips " + FileName());
        return FileSent(foSkippedByPeer, "skipped by the receiver");
      }
      return;
    case ZNAK:
      if (!CountError()) return;
      switch (step_) {
        case TStep::kSendInit:
          return SendHex(THeader::At(ZRQINIT, 0));
        case TStep::kSendFile:
          return SendFileInfo();
        case TStep::kSendEof:
          return SendEof();
        case TStep::kSendFin:
          return SendFinish();
        default:
          return;
      }
    case ZFIN:
      if (step_ == TStep::kSendFin) {
        const std::uint8_t over[] = {'O', 'O'};
        DoDataSend(over, 2);
        LogMsg(dlSimple, "The session is closed.");
        return EndSession();
      }
      if (step_ == TStep::kSendInit) return;
      return Violation("The receiver ended the session before the last file was sent.");
    case ZABORT:
    case ZCAN:
      return Violation("The receiver aborted the session.");
    case ZFERR:
      return Violation("The receiver could not write " + FileName() + ".");
    case ZCRC:
      if (step_ == TStep::kSendFile) return AnswerCrc(header.Position());
      return;
    case ZCHALLENGE:
      return SendHex(THeader::At(ZACK, header.Position()));
    default:
      return;
  }
}

bool TvxZModem::OpenNextFile() {
  while (next_file_ < FileList().Count()) {
    const std::string name = FileList().Strings(next_file_++);
    try {
      OpenTransferFile(name, fmOpenRead);
      SetTotalSize(FileStream()->Size());
      from_ = 0;
      if (FileStream()->Size() > static_cast<std::int64_t>(UINT32_MAX)) {
        CloseTransferFile();
        PassOverFile(name, "more bytes than ZMODEM's positions reach");
        continue;
      }
      return true;
    } catch (const EFileStreamError& e) {
      PassOverFile(name, e.Message());
    }
  }
  return false;
}

void TvxZModem::SendNextFile() {
  const bool opened = OpenNextFile();
  // A handler of the file's start may have ended the session.
  if (!running_) return;
  if (!opened) return SendFinish();
  LogMsg(dlSimple, "Sending " + FileName());
  SendFileInfo();
}

void TvxZModem::SendFileInfo() {
  const std::vector<std::uint8_t> info =
      vxymodem::HeaderData(FileName(), TotalSize(), FileStream()->ModifiedTime());
  encoder_.Binary(THeader::Flags(ZFILE, resume_ ? kZcResume : kZcBin), crc32_in_use_, out_);
  encoder_.Subpacket(info.data(), info.size(), kZCrcW, crc32_in_use_, out_);
  Flush();
  step_ = TStep::kSendFile;
  Arm(Timeout());
}

void TvxZModem::FileSent(TvxFileOutcome outcome, const std::string& reason) {
  DoProgress();
  SetFileOutcome(outcome, reason);
  CloseTransferFile();
  // A handler of the progress or of the file's end may have ended the session.
  if (!running_) return;
  ResetRetries();
  SendNextFile();
}

void TvxZModem::SendFinish() {
  step_ = TStep::kSendFin;
  SendHex(THeader::At(ZFIN, 0));
  Arm(Timeout());
}

void TvxZModem::SenderTimedOut() {
  if (step_ == TStep::kSendData) return SendBurst();
  if (!CountError()) return;
  LogMsg(dlDetail, "Timeout!");
  switch (step_) {
    case TStep::kSendInit:
      SendHex(THeader::At(ZRQINIT, 0));
      return Arm(Timeout());
    case TStep::kSendFile:
      return SendFileInfo();
    case TStep::kSendWait:
      // The ZACK went astray: the receiver says where it is when the data goes on.
      ++repeats_;
      return StartData(static_cast<std::uint32_t>(send_pos_));
    case TStep::kSendEof:
      return SendEof();
    case TStep::kSendFin:
      return SendFinish();
    default:
      return;
  }
}

}  // namespace vxcomm
