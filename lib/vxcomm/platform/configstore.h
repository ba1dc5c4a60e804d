/// @file
/// Binary values in the configuration store (the registry's place here): a root key picks
/// the scope (HKEY_CURRENT_USER the user's, HKEY_LOCAL_MACHINE the system's), a key path
/// with "\" or "/" between its parts names the group, the value name the entry.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <string>

namespace vxcomm {

/// A root key of the configuration store: the scope of a key path.
using HKEY = std::uintptr_t;
/// The user's scope.
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
/// The system's scope.
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

/// A value read from the configuration store.
struct VXCOMM_EXPORT TvxConfigValue {
  /// What was found: no value, a binary value, or a value of another type.
  enum Kind { Missing, Binary, NotBinary };
  Kind kind = Missing;  ///< what was found
  std::string data;     ///< the bytes of a binary value
};

/// Reads a value. Throws std::invalid_argument for an unknown root key.
VXCOMM_EXPORT TvxConfigValue vxReadConfigValue(HKEY root, const std::string& keyPath,
                                               const std::string& valueName);
/// Writes Data as a binary value. Throws std::invalid_argument for an unknown root key,
/// std::runtime_error for a store that cannot be written.
VXCOMM_EXPORT void vxWriteConfigBinary(HKEY root, const std::string& keyPath,
                                       const std::string& valueName, const std::string& data);

}  // namespace vxcomm
