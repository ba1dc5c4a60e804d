/// @file
/// printf-style formatting over a runtime argument list.
///
/// A mismatch between a specifier and its argument, a missing argument or a malformed
/// specifier throws EConvertError; the formatter never reads past its arguments.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "vxcomm/rtl/sysutils.h"

namespace vxcomm {

/// One argument of a format call: an integer, a floating-point number, a character,
/// a string or a pointer, tagged with what it is.
class VXCOMM_EXPORT TVarRec {
 public:
  /// What the argument holds.
  enum class Kind { Int, UInt, Float, Char, String, Pointer };

  /// An integer argument.
  TVarRec(int v) : kind_(Kind::Int), i_(v) {}
  /// An integer argument.
  TVarRec(long v) : kind_(Kind::Int), i_(v) {}
  /// An integer argument.
  TVarRec(long long v) : kind_(Kind::Int), i_(v) {}
  /// An unsigned integer argument.
  TVarRec(unsigned v) : kind_(Kind::UInt), u_(v) {}
  /// An unsigned integer argument.
  TVarRec(unsigned long v) : kind_(Kind::UInt), u_(v) {}
  /// An unsigned integer argument.
  TVarRec(unsigned long long v) : kind_(Kind::UInt), u_(v) {}
  /// An integer argument: 1 for true, 0 for false.
  TVarRec(bool v) : kind_(Kind::Int), i_(v ? 1 : 0) {}
  /// A floating-point argument.
  TVarRec(double v) : kind_(Kind::Float), f_(v) {}
  /// A character argument.
  TVarRec(char v) : kind_(Kind::Char), c_(v) {}
  /// A string argument; null stands for the empty string.
  TVarRec(const char* v) : kind_(Kind::String), s_(v ? v : "") {}
  /// A string argument.
  TVarRec(std::string v) : kind_(Kind::String), s_(std::move(v)) {}
  /// A pointer argument.
  TVarRec(const void* v) : kind_(Kind::Pointer), p_(v) {}

  /// What the argument holds.
  Kind kind() const { return kind_; }
  /// The integer, signed or unsigned, as a signed number.
  std::int64_t AsInt() const { return kind_ == Kind::UInt ? static_cast<std::int64_t>(u_) : i_; }
  /// The integer, signed or unsigned, as an unsigned number.
  std::uint64_t AsUInt() const { return kind_ == Kind::Int ? static_cast<std::uint64_t>(i_) : u_; }
  /// The floating-point number (0 for another kind).
  double AsFloat() const { return f_; }
  /// The character (0 for another kind).
  char AsChar() const { return c_; }
  /// The string (empty for another kind).
  const std::string& AsString() const { return s_; }
  /// The pointer (null for another kind).
  const void* AsPointer() const { return p_; }

 private:
  Kind kind_;
  std::int64_t i_ = 0;
  std::uint64_t u_ = 0;
  double f_ = 0;
  char c_ = 0;
  std::string s_;
  const void* p_ = nullptr;
};

/// The argument list of a format call.
using TVarRecs = std::vector<TVarRec>;

/// Formats Fmt with Args. Specifiers: %[-][0][width][.prec](d|i|u|x|X|o|c|s|f|e|g|p|%).
/// %d and %u take any integer, %s a string or character, %c a character or integer,
/// %f/%e/%g a number, %p a pointer. Throws EConvertError on any mismatch.
VXCOMM_EXPORT std::string Format(const std::string& fmt, const TVarRecs& args);

}  // namespace vxcomm
