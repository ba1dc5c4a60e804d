// Finds a ZMODEM hex header of the frame types asked for among the bytes a line sends to a
// terminal: the far end's sender starting (ZRQINIT) or its receiver waiting (ZRINIT). A
// terminal shows what it is given, holding back only the bytes that may still be such a
// header; the header's CRC-16 is checked by the ZMODEM frame reader itself.
//
// Thread: none; the caller's thread owns a detector. Nothing here does I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Splits received bytes into those for the console and a hex header with what follows it.
//
// A hex header is one or two ZPAD ('*'), ZDLE, 'B', then fourteen hex digits: the frame type,
// four data bytes and the CRC-16 over the five. While the bytes from a ZPAD on may still be
// one of a type asked for they are held back; once they cannot be (a byte out of place, a
// type not asked for, a CRC that is not sound) they are given for the console, and a later
// ZPAD among them is looked at again. The line end and XON that follow a header on the line
// are no part of it.
class TZHeaderDetector {
 public:
  // What one Feed gives.
  struct TResult {
    std::string show;       // bytes for the console, in the order received
    bool found = false;     // a sound hex header of a type asked for arrived
    std::uint8_t type = 0;  // when found: its frame type
    std::string header;     // when found: the header as it came, from its first ZPAD
    // When found: the bytes of this Feed after the header, which the detector has not looked
    // at; it then holds nothing.
    std::string after;
  };

  // Looks for hex headers of the frame Types.
  explicit TZHeaderDetector(std::vector<std::uint8_t> types);

  // Takes the next Len received bytes of Data.
  TResult Feed(const char* data, std::size_t len);
  // The bytes held back, released for the console (nothing more came to decide them).
  std::string Release();
  // True while bytes are held back.
  bool Holding() const { return !held_.empty(); }

  // After without the line end (CR, LF in either form) and XON that follow a hex header on
  // the line, where it starts with them.
  static std::string DropLineEnd(std::string after);

  // The most bytes a header takes: two ZPAD, ZDLE, 'B' and fourteen digits.
  static constexpr std::size_t kHeaderMax = 18;

 private:
  // What the held bytes are: a header's start, a whole sound header, or no header at all.
  enum class TVerdict { kMore, kHeader, kNotOne };
  TVerdict Judge(std::uint8_t& type) const;
  bool Wanted(std::uint8_t type) const;

  std::vector<std::uint8_t> types_;
  std::string held_;  // from a ZPAD on: the bytes that may still be a header
};
