#include "vxcomm/vxkermit/attributes.h"

#include <ctime>
#include <limits>

#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

namespace vxcomm {

namespace vxkermit {

namespace {

// The decimal value of Text, or -1 when it is empty or not all digits.
std::int64_t DecimalValue(const std::string& text) {
  if (text.empty()) return -1;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    if (v < std::numeric_limits<std::int64_t>::max() / 16) v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

namespace {

std::string Entry(char letter, const std::string& value) {
  return std::string(1, letter) + static_cast<char>(ToChar(static_cast<unsigned>(value.size()))) +
         value;
}

// The number in Text[At, At + Digits), or -1 when any of them is not a digit.
int Digits(const std::string& text, std::size_t at, std::size_t digits) {
  if (at + digits > text.size()) return -1;
  int v = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    v = v * 10 + (text[i] - '0');
  }
  return v;
}

}  // namespace

std::string BuildAttributes(std::int64_t size, bool exact, std::int64_t modified, bool recover) {
  std::string field = Entry('!', std::to_string(size / 1024 + 1));
  if (exact) field += Entry('1', std::to_string(size));
  if (modified >= 0) {
    const auto when = static_cast<std::time_t>(modified);
    std::tm local{};
    char text[32];
    if (::localtime_r(&when, &local) != nullptr &&
        std::strftime(text, sizeof text, "%Y%m%d %H:%M:%S", &local) > 0)
      field += Entry('#', text);
  }
  if (recover) field += Entry('+', "R");
  return field;
}

std::string SystemIdAttribute() {
  return Entry('.', kUnixSystemId);
}

std::string FileTypeAttribute(bool text) {
  return Entry('"', text ? "AMJ" : "B8");
}

TFileType FileTypeOf(const std::uint8_t* field, std::size_t len) {
  const std::string type = GetAttribute(field, len, '"');
  if (type.empty()) return TFileType::Unknown;
  if (type[0] == 'A') return TFileType::Text;
  if (type[0] == 'B' || type[0] == 'I') return TFileType::Binary;
  return TFileType::Unknown;
}

std::int64_t ParseAttributeDate(const std::string& text) {
  const std::size_t space = text.find(' ');
  const std::size_t dateLength = space == std::string::npos ? text.size() : space;
  if (dateLength != 6 && dateLength != 8) return -1;
  const std::size_t yearDigits = dateLength - 4;
  int year = Digits(text, 0, yearDigits);
  const int month = Digits(text, yearDigits, 2), day = Digits(text, yearDigits + 2, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31) return -1;
  if (yearDigits == 2) year += 1900;
  int hour = 0, minute = 0, second = 0;
  if (space != std::string::npos) {
    const std::string time = text.substr(space + 1);
    if (time.size() != 5 && time.size() != 8) return -1;
    hour = Digits(time, 0, 2);
    minute = Digits(time, 3, 2);
    second = time.size() == 8 ? Digits(time, 6, 2) : 0;
    if (time[2] != ':' || (time.size() == 8 && time[5] != ':') || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60)
      return -1;
  }
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const std::time_t when = std::mktime(&local);
  // mktime moves a day that does not exist (the 31st of April) into the next month.
  if (when == static_cast<std::time_t>(-1) || local.tm_mday != day) return -1;
  return static_cast<std::int64_t>(when);
}

std::string GetAttribute(const std::uint8_t* field, std::size_t len, char letter) {
  std::size_t i = 0;
  while (i + 1 < len) {
    const std::uint8_t l = field[i + 1];
    if (l <= 32) break;
    const std::size_t n = static_cast<std::size_t>(UnChar(l));
    const std::size_t start = i + 2;
    const std::size_t avail = start < len ? len - start : 0;
    if (field[i] == static_cast<std::uint8_t>(letter))
      return std::string(reinterpret_cast<const char*>(field + start), n < avail ? n : avail);
    i = start + n;
  }
  return {};
}

std::int64_t AnnouncedSize(const std::uint8_t* field, std::size_t len) {
  constexpr std::int64_t kMax = std::int64_t{1} << 62;
  std::int64_t v = DecimalValue(GetAttribute(field, len, '1'));
  if (v < 0) {
    const std::int64_t k = DecimalValue(GetAttribute(field, len, '!'));
    v = k < 0 ? 1 : (k > kMax / 1024 ? kMax : k * 1024 + 1);
  }
  return v > kMax ? kMax : v;
}

std::int64_t SizeInK(const std::uint8_t* field, std::size_t len) {
  return DecimalValue(GetAttribute(field, len, '!'));
}

bool LengthAgrees(std::int64_t exact, std::int64_t k, const TArrived& arrived) {
  if (arrived.text)
    return exact < 0 || exact == arrived.wire || exact == arrived.wire - arrived.wireLf ||
           exact == arrived.stored;
  if (exact >= 0) return arrived.stored == exact;
  if (k < 0 || k > std::numeric_limits<std::int64_t>::max() / 2048) return true;
  return arrived.stored <= k * 1024 && arrived.stored > (k - 2) * 1024;
}

std::int64_t ExactSize(const std::uint8_t* field, std::size_t len) {
  return DecimalValue(GetAttribute(field, len, '1'));
}

bool AsksRecovery(const std::uint8_t* field, std::size_t len) {
  return GetAttribute(field, len, '+') == "R";
}

std::string HeldLengthReply(std::int64_t held) {
  return Entry('1', std::to_string(held < 0 ? 0 : held));
}

std::int64_t ReadHeldLength(const std::uint8_t* data, std::size_t len) {
  // Misread, the length would put the sender's data in the wrong place of a file the
  // receiver appends to: anything malformed is -1, never 0.
  std::size_t i = len > 0 && data[0] == 'Y' ? 1 : 0;
  while (i < len) {
    if (i + 1 >= len || data[i + 1] < 32 || data[i + 1] > 126) return -1;
    const auto n = static_cast<std::size_t>(UnChar(data[i + 1]));
    const std::size_t start = i + 2;
    if (n > len - start) return -1;
    if (data[i] == '1') {
      // Nineteen digits could overflow; no file is that long.
      if (n == 0 || n > 18) return -1;
      const std::string value(reinterpret_cast<const char*>(data + start), n);
      // What a receiver that holds no such file reports.
      if (value == "-1") return 0;
      return DecimalValue(value);
    }
    i = start + n;
  }
  return 0;
}

}  // namespace vxkermit

}  // namespace vxcomm
