/// @file
/// A sequential pattern matcher: fed one character at a time, it reports the character
/// that completes its pattern.
///
/// After a mismatch only the current character is tried again as a first character; earlier
/// characters are not reconsidered, so the pattern "aab" is not found in "aaab".
/// Thread: none; the owner's thread.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <string>

#include "vxcomm/rtl/sysutils.h"

namespace vxcomm {

/// A sequential pattern matcher (see the file description).
class VXCOMM_EXPORT TCommEventNew : public TObject {
 public:
  /// A matcher of Pattern; an empty pattern never matches.
  explicit TCommEventNew(const std::string& pattern = {}) { SetPattern(pattern); }

  /// Sets the pattern and starts over.
  void SetPattern(const std::string& s) {
    pattern_ = s;
    size_ = static_cast<int>(s.size());
    Reset();
  }
  /// Starts over at the first character of the pattern.
  void Reset() { position_ = 1; }

  /// True when Ch completes the pattern; the matcher then starts over.
  bool Match(char ch) {
    if (size_ == 0) return false;
    if (ch == pattern_[static_cast<std::size_t>(position_ - 1)]) {
      if (++position_ > size_) {
        position_ = 1;
        return true;
      }
      return false;
    }
    position_ = ch == pattern_[0] ? 2 : 1;
    return false;
  }

  /// True when part of the pattern has been matched.
  bool InProgress() const { return position_ > 1; }
  /// 1-based index in Pattern of the next expected character.
  int Position() const { return position_; }
  /// The length of the pattern.
  int Size() const { return size_; }
  /// The pattern.
  const std::string& Pattern() const { return pattern_; }

 private:
  int position_ = 1;
  int size_ = 0;
  std::string pattern_;
};

}  // namespace vxcomm
