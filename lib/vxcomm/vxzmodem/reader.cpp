#include "vxcomm/vxzmodem/reader.h"

#include "vxcomm/vxxmodem/block.h"

namespace vxcomm {

namespace vxzmodem {

namespace {

constexpr int kCancelRun = 5;

bool IsFlowControl(std::uint8_t ch) {
  const std::uint8_t low = ch & 0x7F;
  return low == kXon || low == kXoff;
}

int HexValue(std::uint8_t ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  // Upper case is not what the protocol writes, but its CRC protects it the same.
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

bool IsEnd(std::uint8_t ch) {
  return ch == kZCrcE || ch == kZCrcG || ch == kZCrcQ || ch == kZCrcW;
}

}  // namespace

TFrameReader::TFrameReader() {
  data_.reserve(kMaxSubpacket + 8);
}

void TFrameReader::Reset() {
  mode_ = TMode::kHunt;
  taken_ = false;
  escaped_ = false;
  hex_tail_ = 0;
  data_.clear();
}

void TFrameReader::ExpectSubpacket() {
  mode_ = TMode::kData;
  escaped_ = false;
  data_crc32_ = form_ == THeaderForm::kBin32;
  hex_tail_ = form_ == THeaderForm::kHex ? 2 : 0;
  taken_ = false;
  data_.clear();
}

TFrameEvent TFrameReader::Bad(TFrameEvent event) {
  Reset();
  return event;
}

TFrameEvent TFrameReader::Take(std::uint8_t ch) {
  // Flow control is the line's, never a frame's: not even a run of ZDLE notices it.
  if (IsFlowControl(ch)) return TFrameEvent::kNone;
  run_before_ = cans_;
  if (ch == kZDle) {
    if (++cans_ >= kCancelRun) {
      cans_ = 0;
      Reset();
      return TFrameEvent::kCancel;
    }
  } else {
    cans_ = 0;
  }
  switch (mode_) {
    case TMode::kHunt:
    case TMode::kPad:
    case TMode::kZDle:
      return TakeHunting(ch);
    case TMode::kHexBody:
      return TakeHex(ch);
    case TMode::kBinBody:
      return TakeBinary(ch);
    case TMode::kData:
    case TMode::kCrc:
      return TakeData(ch);
  }
  return TFrameEvent::kNone;
}

TFrameEvent TFrameReader::TakeHunting(std::uint8_t ch) {
  if (mode_ == TMode::kZDle) {
    // More ZDLE in a row are a cancel being counted, never a header.
    if (ch == kZDle) return TFrameEvent::kNone;
    mode_ = TMode::kHunt;
    if (run_before_ != 1 || (ch != kZBin && ch != kZHex && ch != kZBin32)) return TakeHunting(ch);
    form_ = ch == kZHex ? THeaderForm::kHex
                        : (ch == kZBin32 ? THeaderForm::kBin32 : THeaderForm::kBin16);
    have_ = 0;
    want_ = form_ == THeaderForm::kHex ? 14 : (form_ == THeaderForm::kBin32 ? 9 : 7);
    mode_ = form_ == THeaderForm::kHex ? TMode::kHexBody : TMode::kBinBody;
    return TFrameEvent::kNone;
  }
  if (ch == kZPad) {
    mode_ = TMode::kPad;
  } else if (ch == kZDle && mode_ == TMode::kPad) {
    mode_ = TMode::kZDle;
  } else {
    mode_ = TMode::kHunt;
  }
  return TFrameEvent::kNone;
}

TFrameEvent TFrameReader::TakeHex(std::uint8_t ch) {
  const int digit = HexValue(ch);
  if (digit < 0) return Bad(TFrameEvent::kBadHeader);
  std::uint8_t& b = raw_[have_ / 2];
  b = static_cast<std::uint8_t>(have_ % 2 == 0 ? digit << 4 : b | digit);
  if (++have_ < want_) return TFrameEvent::kNone;
  have_ /= 2;
  return FinishHeader();
}

TFrameReader::TByte TFrameReader::Unescape(std::uint8_t ch, std::uint8_t& out) {
  if (!escaped_) {
    if (ch == kZDle) {
      escaped_ = true;
      return TByte::kNone;
    }
    out = ch;
    return TByte::kByte;
  }
  // A second ZDLE is a cancel being counted; anything else after a run of them is damage.
  if (ch == kZDle) return TByte::kNone;
  escaped_ = false;
  if (run_before_ > 1) return TByte::kBad;
  out = ch;
  if (IsEnd(ch)) return TByte::kEnd;
  if (ch == kZRub0) {
    out = 0x7F;
  } else if (ch == kZRub1) {
    out = 0xFF;
  } else if ((ch & 0x60) == 0x40) {
    out = static_cast<std::uint8_t>(ch ^ 0x40);
  } else {
    return TByte::kBad;
  }
  return TByte::kByte;
}

TFrameEvent TFrameReader::TakeBinary(std::uint8_t ch) {
  std::uint8_t b = 0;
  const TByte got = Unescape(ch, b);
  if (got == TByte::kNone) return TFrameEvent::kNone;
  if (got != TByte::kByte) return Bad(TFrameEvent::kBadHeader);
  raw_[have_++] = b;
  return have_ < want_ ? TFrameEvent::kNone : FinishHeader();
}

TFrameEvent TFrameReader::FinishHeader() {
  bool sound = false;
  if (form_ == THeaderForm::kBin32) {
    const std::uint32_t crc = Crc32(raw_, 5);
    sound =
        crc ==
        (static_cast<std::uint32_t>(raw_[5]) | (static_cast<std::uint32_t>(raw_[6]) << 8) |
         (static_cast<std::uint32_t>(raw_[7]) << 16) | (static_cast<std::uint32_t>(raw_[8]) << 24));
  } else {
    sound = vxxmodem::Crc16(raw_, 7) == 0;
  }
  Reset();
  if (!sound) return TFrameEvent::kBadHeader;
  header_.type = raw_[0];
  for (int i = 0; i < 4; ++i) header_.data[i] = raw_[1 + i];
  return TFrameEvent::kHeader;
}

TFrameEvent TFrameReader::TakeData(std::uint8_t ch) {
  if (hex_tail_ > 0) {
    --hex_tail_;
    const std::uint8_t low = ch & 0x7F;
    if (low == '\r' || low == '\n') return TFrameEvent::kNone;
    hex_tail_ = 0;
  }
  // The last subpacket's data stayed readable until this byte of the next one.
  if (taken_) {
    taken_ = false;
    data_.clear();
  }
  std::uint8_t b = 0;
  const TByte got = Unescape(ch, b);
  if (got == TByte::kNone) return TFrameEvent::kNone;
  if (got == TByte::kBad) return Bad(TFrameEvent::kBadSubpacket);
  if (mode_ == TMode::kData) {
    if (got == TByte::kEnd) {
      end_ = b;
      have_ = 0;
      want_ = data_crc32_ ? 4 : 2;
      mode_ = TMode::kCrc;
      return TFrameEvent::kNone;
    }
    if (data_.size() >= kMaxSubpacket) return Bad(TFrameEvent::kBadSubpacket);
    data_.push_back(b);
    return TFrameEvent::kNone;
  }
  if (got == TByte::kEnd) return Bad(TFrameEvent::kBadSubpacket);
  crc_[have_++] = b;
  return have_ < want_ ? TFrameEvent::kNone : FinishSubpacket();
}

TFrameEvent TFrameReader::FinishSubpacket() {
  bool sound = false;
  if (data_crc32_) {
    const std::uint32_t crc =
        ~Crc32Update(Crc32Update(0xFFFFFFFFu, data_.data(), data_.size()), &end_, 1);
    sound =
        crc ==
        (static_cast<std::uint32_t>(crc_[0]) | (static_cast<std::uint32_t>(crc_[1]) << 8) |
         (static_cast<std::uint32_t>(crc_[2]) << 16) | (static_cast<std::uint32_t>(crc_[3]) << 24));
  } else {
    data_.push_back(end_);
    data_.push_back(crc_[0]);
    data_.push_back(crc_[1]);
    sound = vxxmodem::Crc16(data_.data(), data_.size()) == 0;
    data_.resize(data_.size() - 3);
  }
  if (!sound) return Bad(TFrameEvent::kBadSubpacket);
  mode_ = end_ == kZCrcE || end_ == kZCrcW ? TMode::kHunt : TMode::kData;
  escaped_ = false;
  taken_ = true;
  return TFrameEvent::kSubpacket;
}

}  // namespace vxzmodem

}  // namespace vxcomm
