/// @file
/// The options of the log file component: a set of seven flags in one byte.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <initializer_list>

namespace vxcomm {

/// Bit N of a TLogOptions is the option of ordinal N.
enum TLogOption : std::uint8_t {
  loSafeMode,       ///< every entry is saved as it is added
  loAutoFileName,   ///< the file is the executable's path with ".log" for its extension
  loSharedLogFile,  ///< others may read the file while it is written; no other writer
  loDate,           ///< the entry prefix shows the date
  loTime,           ///< the entry prefix shows the time
  loMSec,           ///< the entry prefix ends with the milliseconds
  loDebugOut,       ///< every entry also goes to the debugger output
};

/// A set of log options, bit N standing for the option of ordinal N.
class VXCOMM_EXPORT TLogOptions {
 public:
  /// The empty set.
  constexpr TLogOptions() = default;
  /// The set of Options.
  constexpr TLogOptions(std::initializer_list<TLogOption> options) {
    for (TLogOption option : options) bits_ |= Bit(option);
  }
  /// The set stored as Bits; bits above the last option are ignored.
  static constexpr TLogOptions FromBits(std::uint8_t bits) {
    TLogOptions options;
    options.bits_ = bits & 0x7F;
    return options;
  }

  /// The set as its bits.
  constexpr std::uint8_t Bits() const { return bits_; }
  /// True when Option is in the set.
  constexpr bool Contains(TLogOption option) const { return bits_ & Bit(option); }
  /// The set with Option added or taken away.
  constexpr TLogOptions operator+(TLogOption option) const { return FromBits(bits_ | Bit(option)); }
  /// The set with Option taken away.
  constexpr TLogOptions operator-(TLogOption option) const {
    return FromBits(static_cast<std::uint8_t>(bits_ & ~Bit(option)));
  }
  /// Sets are equal when they hold the same options.
  friend constexpr bool operator==(TLogOptions, TLogOptions) = default;

 private:
  static constexpr std::uint8_t Bit(TLogOption option) {
    return static_cast<std::uint8_t>(1u << option);
  }
  std::uint8_t bits_ = 0;
};

}  // namespace vxcomm
