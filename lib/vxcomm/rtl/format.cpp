#include "vxcomm/rtl/format.h"

#include <cinttypes>
#include <cstdio>

namespace vxcomm {

namespace {

struct Directive {
  bool left = false;
  bool zero = false;
  int width = -1;
  int precision = -1;
  char conversion = 0;
};

[[noreturn]] void Mismatch(const std::string& fmt, const char* why) {
  throw EConvertError("Format '" + fmt + "' invalid or incompatible with argument: " + why);
}

std::string Pad(std::string text, const Directive& directive) {
  if (directive.width < 0 || static_cast<int>(text.size()) >= directive.width) return text;
  std::size_t fill = static_cast<std::size_t>(directive.width) - text.size();
  if (directive.left) return text + std::string(fill, ' ');
  if (directive.zero && directive.conversion != 's' && directive.conversion != 'c') {
    std::size_t sign = (!text.empty() && text[0] == '-') ? 1 : 0;
    return text.substr(0, sign) + std::string(fill, '0') + text.substr(sign);
  }
  return std::string(fill, ' ') + text;
}

bool IsInteger(const TVarRec& a) {
  return a.kind() == TVarRec::Kind::Int || a.kind() == TVarRec::Kind::UInt;
}

std::string Render(const std::string& fmt, const Directive& directive, const TVarRec& arg) {
  char buf[64];
  switch (directive.conversion) {
    case 'd':
    case 'i':
    case 'u': {
      if (!IsInteger(arg)) Mismatch(fmt, "integer expected");
      std::string digits =
          directive.conversion == 'u' ? std::to_string(arg.AsUInt()) : std::to_string(arg.AsInt());
      if (directive.precision > static_cast<int>(digits.size())) {
        bool neg = digits[0] == '-';
        std::string body = digits.substr(neg ? 1 : 0);
        body.insert(0, static_cast<std::size_t>(directive.precision) - body.size(), '0');
        digits = (neg ? "-" : "") + body;
      }
      return Pad(digits, directive);
    }
    case 'x':
    case 'X':
    case 'o': {
      if (!IsInteger(arg)) Mismatch(fmt, "integer expected");
      const char* f = directive.conversion == 'x'   ? "%" PRIx64
                      : directive.conversion == 'X' ? "%" PRIX64
                                                    : "%" PRIo64;
      std::snprintf(buf, sizeof buf, f, arg.AsUInt());
      std::string digits = buf;
      if (directive.precision > static_cast<int>(digits.size()))
        digits.insert(0, static_cast<std::size_t>(directive.precision) - digits.size(), '0');
      return Pad(digits, directive);
    }
    case 'c':
      if (arg.kind() == TVarRec::Kind::Char) return Pad(std::string(1, arg.AsChar()), directive);
      if (IsInteger(arg)) return Pad(std::string(1, static_cast<char>(arg.AsInt())), directive);
      Mismatch(fmt, "character expected");
    case 's': {
      std::string s;
      if (arg.kind() == TVarRec::Kind::String)
        s = arg.AsString();
      else if (arg.kind() == TVarRec::Kind::Char)
        s = std::string(1, arg.AsChar());
      else
        Mismatch(fmt, "string expected");
      if (directive.precision >= 0 && static_cast<std::size_t>(directive.precision) < s.size())
        s.resize(static_cast<std::size_t>(directive.precision));
      return Pad(s, directive);
    }
    case 'f':
    case 'e':
    case 'g': {
      double v;
      if (arg.kind() == TVarRec::Kind::Float)
        v = arg.AsFloat();
      else if (IsInteger(arg))
        v = arg.kind() == TVarRec::Kind::UInt ? static_cast<double>(arg.AsUInt())
                                              : static_cast<double>(arg.AsInt());
      else
        Mismatch(fmt, "number expected");
      char f[8] = {'%', '.', '*', directive.conversion, 0};
      std::snprintf(buf, sizeof buf, f,
                    directive.precision < 0 ? 2 : std::min(directive.precision, 30), v);
      return Pad(buf, directive);
    }
    case 'p':
      if (arg.kind() != TVarRec::Kind::Pointer) Mismatch(fmt, "pointer expected");
      std::snprintf(buf, sizeof buf, "%016" PRIXPTR,
                    reinterpret_cast<std::uintptr_t>(arg.AsPointer()));
      return Pad(buf, directive);
    default:
      Mismatch(fmt, "unknown conversion");
  }
}

int ReadNumber(const std::string& fmt, std::size_t& i) {
  int n = 0;
  while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
    n = n * 10 + (fmt[i] - '0');
    if (n > 10000) Mismatch(fmt, "width too large");
    ++i;
  }
  return n;
}

}  // namespace

std::string Format(const std::string& fmt, const TVarRecs& args) {
  std::string out;
  out.reserve(fmt.size() + 16 * args.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    char ch = fmt[i];
    if (ch != '%') {
      out += ch;
      continue;
    }
    if (++i >= fmt.size()) Mismatch(fmt, "specifier cut off");
    if (fmt[i] == '%') {
      out += '%';
      continue;
    }
    Directive directive;
    for (; i < fmt.size() && (fmt[i] == '-' || fmt[i] == '0'); ++i)
      (fmt[i] == '-' ? directive.left : directive.zero) = true;
    if (i < fmt.size() && fmt[i] >= '1' && fmt[i] <= '9') directive.width = ReadNumber(fmt, i);
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      directive.precision = ReadNumber(fmt, i);
    }
    if (i >= fmt.size()) Mismatch(fmt, "specifier cut off");
    directive.conversion = fmt[i];
    if (next >= args.size()) Mismatch(fmt, "missing argument");
    out += Render(fmt, directive, args[next++]);
  }
  return out;
}

}  // namespace vxcomm
