#include "zheaderdetector.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "vxcomm/vxzmodem/frame.h"
#include "vxcomm/vxzmodem/reader.h"

namespace {

using namespace vxcomm::vxzmodem;

constexpr std::size_t kMaxPads = 2;
constexpr std::size_t kDigits = 14;

}  // namespace

TZHeaderDetector::TZHeaderDetector(std::vector<std::uint8_t> types) : types_(std::move(types)) {}

bool TZHeaderDetector::Wanted(std::uint8_t type) const {
  return std::find(types_.begin(), types_.end(), type) != types_.end();
}

TZHeaderDetector::TVerdict TZHeaderDetector::Judge(std::uint8_t& type) const {
  const std::size_t size = held_.size();
  std::size_t i = 0;
  while (i < size && held_[i] == static_cast<char>(kZPad)) ++i;
  // A longer run of '*' is text, but for the last two of it.
  if (i > kMaxPads) return TVerdict::kNotOne;
  if (i == size) return TVerdict::kMore;
  if (held_[i] != static_cast<char>(kZDle)) return TVerdict::kNotOne;
  if (++i == size) return TVerdict::kMore;
  if (held_[i] != static_cast<char>(kZHex)) return TVerdict::kNotOne;
  const std::size_t first = ++i;
  for (; i < size; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(held_[i]))) return TVerdict::kNotOne;
  if (size - first < kDigits) return TVerdict::kMore;
  // Whole: the frame layer's own reader decides whether its CRC is sound.
  TFrameReader reader;
  for (const char ch : held_) {
    if (reader.Take(static_cast<std::uint8_t>(ch)) != TFrameEvent::kHeader) continue;
    type = reader.Header().type;
    return reader.Form() == THeaderForm::kHex && Wanted(type) ? TVerdict::kHeader
                                                              : TVerdict::kNotOne;
  }
  return TVerdict::kNotOne;
}

TZHeaderDetector::TResult TZHeaderDetector::Feed(const char* data, std::size_t len) {
  TResult r;
  r.show.reserve(len + held_.size());
  for (std::size_t i = 0; i < len; ++i) {
    const char ch = data[i];
    if (held_.empty() && ch != static_cast<char>(kZPad)) {
      r.show += ch;
      continue;
    }
    held_ += ch;
    for (;;) {
      std::uint8_t type = 0;
      const TVerdict verdict = Judge(type);
      if (verdict == TVerdict::kMore) break;
      if (verdict == TVerdict::kHeader) {
        r.found = true;
        r.type = type;
        r.header.swap(held_);
        held_.clear();
        r.after.assign(data + i + 1, len - i - 1);
        return r;
      }
      // Not a header: its first byte is text, and what follows is looked at from the next
      // ZPAD on.
      const std::size_t next = held_.find(static_cast<char>(kZPad), 1);
      r.show.append(held_, 0, next == std::string::npos ? held_.size() : next);
      held_.erase(0, next);
      if (held_.empty()) break;
    }
  }
  return r;
}

std::string TZHeaderDetector::DropLineEnd(std::string after) {
  std::size_t n = 0;
  if (n < after.size() && after[n] == '\r') ++n;
  if (n < after.size() && (after[n] & 0x7F) == '\n') ++n;
  if (n < after.size() && after[n] == static_cast<char>(kXon)) ++n;
  after.erase(0, n);
  return after;
}

std::string TZHeaderDetector::Release() {
  std::string out;
  out.swap(held_);
  return out;
}
