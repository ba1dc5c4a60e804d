#include "sendinit.h"

#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

namespace {

constexpr char kSoh = 0x01;

int Unchar(char c) {
  return static_cast<unsigned char>(c) - 32;
}

}  // namespace

char KermitCheck1(const std::string& bytes) {
  unsigned sum = 0;
  for (const char c : bytes) sum += static_cast<unsigned char>(c);
  return static_cast<char>(((sum + ((sum & 192) / 64)) & 63) + 32);
}

TSendInitDetector::TVerdict TSendInitDetector::Judge() const {
  // held_[0] is SOH.
  if (held_.size() < 2) return More;
  const int len = Unchar(held_[1]);
  if (len < 3 || len > 94) return NotOne;
  if (held_.size() >= 3 && held_[2] != ' ') return NotOne;  // a session begins at number 0
  if (held_.size() >= 4 && held_[3] != 'S') return NotOne;
  const std::size_t whole = 2 + static_cast<std::size_t>(len);
  for (std::size_t i = 1; i < held_.size() && i < whole; ++i) {
    const unsigned char c = static_cast<unsigned char>(held_[i]);
    if (c < 32 || c > 126) return NotOne;
  }
  if (held_.size() < whole) return More;
  const std::string counted = held_.substr(1, whole - 2);
  if (held_[whole - 1] == KermitCheck1(counted)) return SendInit;
  return IsForced3SendInit(held_.substr(0, whole)) ? SendInit : NotOne;
}

bool IsForced3SendInit(const std::string& packet) {
  using namespace vxkermit;
  // Force-3 (CHKT "5") checks the Send-Init itself with the type 3 CRC.
  if (packet.size() < kDataPos + ipChkt + 1 + 3 || packet[kDataPos + ipChkt] != kChktForced3)
    return false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(packet.data());
  std::uint8_t check[3];
  WriteCheckChars(BlockCheck(bytes + kLenPos, packet.size() - 3 - kLenPos, 2), 2, check);
  return packet.compare(packet.size() - 3, 3, reinterpret_cast<const char*>(check), 3) == 0;
}

TSendInitDetector::TResult TSendInitDetector::Feed(const char* data, std::size_t len) {
  TResult r;
  for (std::size_t i = 0; i < len; ++i) {
    const char c = data[i];
    if (held_.empty()) {
      if (c == kSoh)
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
      // The first SOH was no packet; a later one in the held bytes may be.
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
