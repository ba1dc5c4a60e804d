/// @file
/// YMODEM's block 0: the file's name, NUL, then its length in decimal, a space and its
/// modification time in octal seconds since the epoch; an empty name (a block of NULs)
/// ends the batch.
///
/// Thread: plain values and functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vxcomm {

namespace vxymodem {

inline constexpr std::uint8_t kStreamStart = 'G';  ///< the receiver's start of YMODEM-g

/// What a block 0 says about the file that follows.
struct THeader {
  std::string name;            ///< as sent (empty: the batch is over)
  std::int64_t length = -1;    ///< bytes of the file; -1 when the sender gave none
  std::int64_t modified = -1;  ///< seconds since the epoch; -1 when the sender gave none
};

/// Block 0's data for the file at Path (its name without the directory, at most what fits
/// one 1K block with its fields), Length bytes long and last modified at Modified (seconds
/// since the epoch; below 0 or unknown: 0).
std::vector<std::uint8_t> HeaderData(const std::string& path, std::int64_t length,
                                     std::int64_t modified);

/// Reads Count bytes of block 0. An empty name is the end of the batch; fields that are
/// missing read -1. Nothing when a field is malformed or out of range (a length that is not
/// decimal digits, a time that is not octal, either beyond 2^62).
std::optional<THeader> ParseHeader(const std::uint8_t* data, std::size_t count);

}  // namespace vxymodem

}  // namespace vxcomm
