#include "vxcomm/vxkermit/sendinitdetector.h"

#include <algorithm>
#include <cstdint>

#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

namespace vxcomm {

namespace vxkermit {

namespace {

// True when the last CheckLength(CheckIndex) of Size bytes from MARK are the block check of
// LEN through the byte before them.
bool CheckMatches(const std::uint8_t* packet, std::size_t size, int checkIndex) {
  const auto n = static_cast<std::size_t>(CheckLength(checkIndex));
  std::uint8_t check[3];
  WriteCheckChars(BlockCheck(packet + kLenPos, size - n - kLenPos, checkIndex), checkIndex, check);
  return std::equal(check, check + n, packet + size - n);
}

}  // namespace

TSendInitDetector::TVerdict TSendInitDetector::Judge() const {
  // held_[0] is MARK.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(held_.data());
  const std::size_t size = held_.size();
  if (size <= kLenPos) return More;
  const int len = UnChar(bytes[kLenPos]);
  if (len < MinPacketLen(0) || len > 94) return NotOne;
  if (size > kSeqPos && bytes[kSeqPos] != ToChar(0)) return NotOne;  // a session begins at 0
  if (size > kTypePos && bytes[kTypePos] != 'S') return NotOne;
  const std::size_t whole = kLenPos + 1 + static_cast<std::size_t>(len);
  for (std::size_t i = kLenPos; i < size && i < whole; ++i)
    if (bytes[i] < 32 || bytes[i] > 126) return NotOne;
  if (size < whole) return More;
  if (CheckMatches(bytes, whole, 0)) return SendInit;
  // Force-3 (CHKT "5") checks the Send-Init itself with the type 3 CRC.
  const bool forced3 = whole >= kDataPos + ipChkt + 1 + static_cast<std::size_t>(CheckLength(2)) &&
                       bytes[kDataPos + ipChkt] == kChktForced3;
  return forced3 && CheckMatches(bytes, whole, 2) ? SendInit : NotOne;
}

TSendInitDetector::TResult TSendInitDetector::Feed(const char* data, std::size_t len) {
  TResult r;
  for (std::size_t i = 0; i < len; ++i) {
    const char c = data[i];
    if (held_.empty()) {
      if (static_cast<std::uint8_t>(c) == kMark)
        held_ = c;
      else
        r.show += c;
      continue;
    }
    held_ += c;
    const TVerdict v = Judge();
    if (v == SendInit) {
      r.found = true;
      r.packet = held_ + std::string(data + i + 1, len - i - 1);
      held_.clear();
      return r;
    }
    if (v == NotOne) {
      // The first SOH was no Send-Init; a later one among the held bytes may be.
      const std::string again = held_.substr(1);
      r.show += held_[0];
      held_.clear();
      TResult inner = Feed(again.data(), again.size());
      r.show += inner.show;
      if (inner.found) {
        r.found = true;
        r.packet = inner.packet + std::string(data + i + 1, len - i - 1);
        return r;
      }
    }
  }
  return r;
}

std::string TSendInitDetector::Release() {
  std::string out;
  out.swap(held_);
  return out;
}

}  // namespace vxkermit

}  // namespace vxcomm
