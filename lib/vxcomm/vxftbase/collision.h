/// @file
/// What becomes of a received file whose name is already taken in the receiving directory.
///
/// Thread: none; plain values.
#pragma once

#include <cstdint>

namespace vxcomm {

/// The collision policy of received files: what a file whose name is taken in the
/// receiving directory does to the file there (a regular file; any other entry, a symbolic
/// link above all, refuses the received file whatever the policy).
enum TvxFileCollision : std::uint8_t {
  fcOverwrite = 0,  ///< the received file replaces the old one
  fcBackup = 1,     ///< the old file is kept as NAME.~N~ (the first free N), the new one is NAME
  fcRename = 2,     ///< the received file is stored as NAME.~N~, the old one stays
  fcDiscard = 3,    ///< the received file is refused (the sender is told where it can be)
  fcUpdate = 4      ///< only a file newer than the old one, by its sender's date, replaces it
};

}  // namespace vxcomm
