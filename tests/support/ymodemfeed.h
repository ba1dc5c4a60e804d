// A TvxYModem receiver with no line: the test feeds it the sender's bytes and reads what it
// answered. Fatal errors are collected instead of raised; file results are kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxymodem.h"

struct YModemFeed {
  // Receives into Dir with a time-out long enough that none runs out during a test.
  explicit YModemFeed(const std::string& dir);

  // Offers Bytes as one chunk from the line.
  void Feed(const std::string& bytes);
  // The file results reported complete.
  int Complete() const;

  TvxYModem ymodem;
  std::string answers;  // everything the receiver sent
  std::vector<TvxFileResult> files;
  std::vector<std::string> fatal;
};

// Block Number as a sender puts it on the line: Data in a 128-byte block (or a 1K one when
// it is longer), padded with Fill, CRC-16.
std::string Block(std::uint8_t number, const std::string& data, std::uint8_t fill = 0x1A);
// Block 0 naming a file: Name, NUL, then Fields.
std::string HeaderBlock(const std::string& name, const std::string& fields);
