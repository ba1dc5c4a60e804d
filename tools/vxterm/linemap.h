// Line-end and erase-key mappings of the terminal (--map, --imap, --omap): a board that ends
// its lines with LF alone, a device that wants CR LF, a Backspace key that sends DEL.
//
// Pure: no I/O, any thread.
#pragma once

#include <string>

// The mappings of one direction, applied byte by byte:
//   crlf CR to LF, crcrlf CR to CR LF, igncr CR dropped,
//   lfcr LF to CR, lfcrlf LF to CR LF, ignlf LF dropped,
//   bsdel BS to DEL, delbs DEL to BS.
// Where several name the same byte, dropping wins over a single byte, and a single byte
// over a pair.
class TLineMap {
 public:
  // Adds the mappings a comma-separated List names ("crlf,delbs"); false, with the map
  // untouched and Bad naming the first unknown word, for anything else.
  bool Add(const std::string& list, std::string& bad);
  bool Empty() const { return flags_ == 0; }
  // Data with the mappings applied.
  std::string Apply(const std::string& data) const;
  // The mappings as a comma-separated list, "none" when there are none.
  std::string Names() const;

 private:
  unsigned flags_ = 0;
};
