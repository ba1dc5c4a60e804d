/// @file
/// Base object model and the exception classes of the library.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <stdexcept>
#include <string>

namespace vxcomm {

/// Root of every class that a string list or a device list may carry as an object.
class VXCOMM_EXPORT TObject {
 public:
  /// A new object.
  TObject() = default;
  /// A copy.
  TObject(const TObject&) = default;
  /// Copies Other.
  TObject& operator=(const TObject&) = default;
  /// Destroys the object; every descendant is destroyed through its base.
  virtual ~TObject() = default;
};

/// An object with published state; descendants copy with Assign where they allow it.
class VXCOMM_EXPORT TPersistent : public TObject {};

/// The library's general exception class: carries an 8-bit message.
class VXCOMM_EXPORT Exception : public std::runtime_error {
 public:
  /// An exception with Message.
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  /// The message.
  std::string Message() const { return what(); }
};

/// Raised when an operation that a concrete class must implement is called on its base.
class VXCOMM_EXPORT EAbstractError : public Exception {
 public:
  /// An exception with the message "Abstract Error".
  EAbstractError() : Exception("Abstract Error") {}
};

/// Raised by the formatter when a specifier does not match its argument.
class VXCOMM_EXPORT EConvertError : public Exception {
 public:
  using Exception::Exception;
};

/// Reports an abstract call with the library's abstract-call error.
[[noreturn]] inline void AbstractError() {
  throw EAbstractError();
}

}  // namespace vxcomm
