// The sending side of TvxKermit: Send-Init, file header, attributes, data, end of file and
// break, driven by the peer's acknowledgements.
#include "vxkermit.h"
#include "vxkermit/attributes.h"
#include "vxkermit/encoding.h"
#include "vxkermit/filename.h"

using namespace vxkermit;

void TvxKermit::SendFiles(const std::string& mask) {
  TvxCustomFileTransfer::SendFiles(mask);
  if (!FileList().Empty()) SendInit();
}

void TvxKermit::SendInit() {
  check_index_ = 0;
  init_params_ = OwnProposal(Timeout(), crc_, qbin_proposal_);
  StartSession(fsSend);
  SendPacket('S', init_params_.data(), init_params_.size());
  LogMsg(dlDebug, "Answer Init");
}

void TvxKermit::SendFileHeader() {
  if (file_index_ >= FileList().Count()) {
    SendBreak();
    return;
  }
  try {
    OpenTransferFile(FileList().Strings(file_index_), fmOpenRead);
  } catch (const EFileStreamError& e) {
    RaiseFatalError(17, kFileFailure, e.Message());
    return;
  }
  SetTotalSize(FileList().Sizes(file_index_));
  // Encoded like data, as peers read it, and never longer than the peer's MAXL allows.
  std::string field;
  for (std::size_t n = std::min(MaxFileNameLength, MaxDataField()); n > 0; --n) {
    field = EncodeText(SentFileName(FileName(), n), QctlOf(init_params_), qbin_);
    if (field.size() <= MaxDataField()) break;
  }
  SendPacket('F', field.data(), field.size());
  LogMsg(dlDebug, "Answer File");
}

void TvxKermit::SendAttributes() {
  LogMsg(dlDebug, "Answer File Atributes");
  const std::string attributes = BuildAttributes(TotalSize());
  SendPacket('A', attributes.data(), attributes.size());
}

void TvxKermit::SendFileData() {
  std::size_t field = 0;
  if (TvxFileStream* file = FileStream()) {
    const std::size_t max = MaxDataField();
    const std::uint8_t qctl = QctlOf(init_params_);
    std::uint8_t* out = send_buf_.data() + DataFieldOffset;
    std::array<std::uint8_t, kPacketImageSize> raw;
    try {
      data_pos_ = file->Position();
      const std::int64_t n = file->Read(raw.data(), static_cast<std::int64_t>(max));
      std::int64_t used = 0;
      while (used < n) {
        const std::uint8_t b = raw[static_cast<std::size_t>(used)];
        if (field + EncodedLength(b, qctl, qbin_) > max) break;
        field += EncodeByte(b, qctl, qbin_, out + field);
        ++used;
      }
      // What did not fit goes into the next packet.
      if (used < n) file->Seek(data_pos_ + used);
    } catch (const EFileStreamError& e) {
      // Ending the file here would hand the peer a short file as complete.
      RaiseFatalError(17, kFileFailure, e.Message());
      return;
    }
  }
  if (field == 0) {
    SendEOF(false);
    return;
  }
  SendPacket('D', send_buf_.data() + DataFieldOffset, field);
  DoProgress();
}

void TvxKermit::SendEOF(bool discard) {
  CloseTransferFile();
  ++file_index_;
  SendPacket('Z', "D", discard ? 1 : 0);
  LogMsg(dlDebug, std::string("Answer EOF with deletion = ") + (discard ? "1" : "0"));
}

void TvxKermit::SendBreak() {
  SendPacket('B', nullptr, 0);
  LogMsg(dlDebug, "Answer BREAK");
  ResetSession(fsListen);
}

void TvxKermit::ReceiveAck() {
  if (Logs(dlDebug)) LogMsg(dlDebug, "ACK [Y] Packet!");
  // An acknowledgement of an earlier packet (a late answer to a repeat) moves nothing on.
  if (RecvSeq() != OutstandingSeq()) return;
  AdvanceOnAck(RecvData(), RecvDataLen());
}

void TvxKermit::ReceiveNak() {
  LogMsg(dlDebug, "NACK [N] Packet! ");
  const std::uint8_t seq = RecvSeq();
  // The receiver waits for the packet after the outstanding one: it has that one. A
  // Send-Init needs its answer's parameters, so only a Y moves it on.
  if (seq == ((OutstandingSeq() + 1) & 63) && last_sent_type_ != 'S') {
    AdvanceOnAck(nullptr, 0);
  } else if (seq == OutstandingSeq()) {
    if (CountRetry()) ResendLastPacket();
  }
}

void TvxKermit::AdvanceOnAck(const std::uint8_t* data, std::size_t len) {
  ResetRetries();
  switch (last_sent_type_) {
    case 'S': {
      const std::uint8_t proposed = init_params_[ipQbin];
      init_params_ = ReadInitParams(data, len);
      check_index_ = CheckIndexOf(init_params_);
      qbin_ = AgreedQbin(proposed, init_params_[ipQbin]);
      SendFileHeader();
      break;
    }
    case 'F':
      // Attributes go only to a peer that said it takes them.
      if (UnChar(init_params_[ipCapas]) & kCapasAttributes)
        SendAttributes();
      else
        SendFileData();
      break;
    case 'A':
      SendFileData();
      break;
    case 'D':
      if (len > 0 && (data[0] == 'X' || data[0] == 'Z'))
        SkipFile(data[0] == 'Z', true);
      else
        SendFileData();
      break;
    case 'Z':
      if (file_index_ < FileList().Count())
        SendFileHeader();
      else
        SendBreak();
      break;
    default:
      break;
  }
}
