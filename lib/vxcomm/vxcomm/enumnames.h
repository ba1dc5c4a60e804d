// The serial name list of the enumeration and the small text helpers it needs. Nothing
// here reads the system: the platform layer hands in what it found.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vxcomm {

// One name-list entry: "COMn=kernel device name" (or the bare name) and its number n.
struct TvxPortName {
  std::string Text;
  int Number = 0;
  std::string Name() const;   // the part before "="
  std::string Value() const;  // the part after "=", empty without one
};
using TvxPortNameList = std::vector<TvxPortName>;

// One (kernel device name, port name) pair of the system's serial-port map.
struct TvxSerialCommValue {
  std::string DeviceName;  // e.g. /dev/ttyS0
  std::string PortName;    // e.g. COM1
};

// Inserts Text in ascending Number order: nothing when the text is listed already
// (ignoring case) or when no entry has a greater number while the last one is equal.
void AddSortedByNumber(const std::string& text, int number, TvxPortNameList& list);

// Clears List and fills it from Values: COM names only (upper-cased, trimmed), each once,
// numbered by the digits after "COM"; "COMn=device" or just "COMn".
void ListSerialPorts(TvxPortNameList& list, bool withDeviceNames,
                     const std::vector<TvxSerialCommValue>& values);

// Joins the NUL-separated texts in the first Length bytes of Buffer with Separator: byte
// Length-1 is the list's final NUL, a NUL at Length-2 ends it early. Length < 2 gives "".
std::string JoinMultiString(const char* buffer, int length, const std::string& separator);

// The decimal number that all of Text is, or -1 (empty, signs, other characters, overflow).
int vxParsePortNumber(const std::string& text);
std::string vxTrim(const std::string& s);
std::string vxUpperCase(const std::string& s);
bool vxSameText(const std::string& a, const std::string& b);
bool vxStartsWith(const std::string& s, const std::string& prefix);

}  // namespace vxcomm
