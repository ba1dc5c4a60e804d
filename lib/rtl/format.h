// printf-style formatting over a runtime argument list.
//
// A mismatch between a specifier and its argument, a missing argument or a malformed
// specifier throws EConvertError; the formatter never reads past its arguments.
#pragma once

#include "vxcomm_export.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "rtl/sysutils.h"

// One argument of a format call: an integer, a floating-point number, a character,
// a string or a pointer, tagged with what it is.
class VXCOMM_EXPORT TVarRec {
 public:
  enum class Kind { Int, UInt, Float, Char, String, Pointer };

  TVarRec(int v) : kind_(Kind::Int), i_(v) {}
  TVarRec(long v) : kind_(Kind::Int), i_(v) {}
  TVarRec(long long v) : kind_(Kind::Int), i_(v) {}
  TVarRec(unsigned v) : kind_(Kind::UInt), u_(v) {}
  TVarRec(unsigned long v) : kind_(Kind::UInt), u_(v) {}
  TVarRec(unsigned long long v) : kind_(Kind::UInt), u_(v) {}
  TVarRec(bool v) : kind_(Kind::Int), i_(v ? 1 : 0) {}
  TVarRec(double v) : kind_(Kind::Float), f_(v) {}
  TVarRec(char v) : kind_(Kind::Char), c_(v) {}
  TVarRec(const char* v) : kind_(Kind::String), s_(v ? v : "") {}
  TVarRec(std::string v) : kind_(Kind::String), s_(std::move(v)) {}
  TVarRec(const void* v) : kind_(Kind::Pointer), p_(v) {}

  Kind kind() const { return kind_; }
  std::int64_t AsInt() const { return kind_ == Kind::UInt ? static_cast<std::int64_t>(u_) : i_; }
  std::uint64_t AsUInt() const { return kind_ == Kind::Int ? static_cast<std::uint64_t>(i_) : u_; }
  double AsFloat() const { return f_; }
  char AsChar() const { return c_; }
  const std::string& AsString() const { return s_; }
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

using TVarRecs = std::vector<TVarRec>;

// Formats Fmt with Args. Specifiers: %[-][0][width][.prec](d|i|u|x|X|o|c|s|f|e|g|p|%).
// %d and %u take any integer, %s a string or character, %c a character or integer,
// %f/%e/%g a number, %p a pointer. Throws EConvertError on any mismatch.
VXCOMM_EXPORT std::string Format(const std::string& fmt, const TVarRecs& args);
