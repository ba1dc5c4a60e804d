#include "vxcomm/vxcomm/enumnames.h"

#include <algorithm>
#include <cctype>

namespace vxcomm {

std::string TvxPortName::Name() const {
  return Text.substr(0, Text.find('='));
}

std::string TvxPortName::Value() const {
  auto eq = Text.find('=');
  return eq == std::string::npos ? std::string() : Text.substr(eq + 1);
}

int vxParsePortNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::string vxTrim(const std::string& s) {
  // Like the framework's Trim: every control character and space goes from both ends.
  auto keep = [](char c) { return static_cast<unsigned char>(c) > ' '; };
  auto first = std::find_if(s.begin(), s.end(), keep);
  auto last = std::find_if(s.rbegin(), s.rend(), keep).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string vxUpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

bool vxSameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && vxUpperCase(a) == vxUpperCase(b);
}

bool vxStartsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

namespace {
bool HoldsText(const TvxPortNameList& list, const std::string& text) {
  return std::any_of(list.begin(), list.end(),
                     [&](const TvxPortName& e) { return vxSameText(e.Text, text); });
}
bool HoldsName(const TvxPortNameList& list, const std::string& name) {
  return std::any_of(list.begin(), list.end(),
                     [&](const TvxPortName& e) { return vxSameText(e.Name(), name); });
}
}  // namespace

void AddSortedByNumber(const std::string& text, int number, TvxPortNameList& list) {
  if (HoldsText(list, text)) return;
  if (list.empty() || list.back().Number < number) {
    list.push_back({text, number});
    return;
  }
  auto greater = std::find_if(list.begin(), list.end(),
                              [&](const TvxPortName& e) { return e.Number > number; });
  if (greater != list.end()) list.insert(greater, {text, number});
}

void ListSerialPorts(TvxPortNameList& list, bool withDeviceNames,
                     const std::vector<TvxSerialCommValue>& values) {
  list.clear();
  for (const TvxSerialCommValue& value : values) {
    std::string name = vxTrim(vxUpperCase(value.PortName));
    if (!vxStartsWith(name, "COM") || HoldsName(list, name)) continue;
    int number = vxParsePortNumber(name.substr(3));
    if (number < 0) continue;
    AddSortedByNumber(withDeviceNames ? name + "=" + value.DeviceName : name, number, list);
  }
}

std::string JoinMultiString(const char* buffer, int length, const std::string& separator) {
  std::string result;
  if (!buffer) return result;
  for (int i = 0; i <= length - 2; ++i) {
    if (buffer[i] != '\0')
      result += buffer[i];
    else if (i == length - 2)
      break;
    else
      result += separator;
  }
  return result;
}

}  // namespace vxcomm
