// Base object model and the exception classes of the library.
#pragma once

#include "vxcomm_export.h"

#include <stdexcept>
#include <string>

// Root of every class that a string list or a device list may carry as an object.
class VXCOMM_EXPORT TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;
};

// An object with published state; descendants copy with Assign where they allow it.
class VXCOMM_EXPORT TPersistent : public TObject {};

// The library's general exception class: carries an 8-bit message.
class VXCOMM_EXPORT Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Raised when an operation that a concrete class must implement is called on its base.
class VXCOMM_EXPORT EAbstractError : public Exception {
 public:
  EAbstractError() : Exception("Abstract Error") {}
};

// Raised by the formatter when a specifier does not match its argument.
class VXCOMM_EXPORT EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Reports an abstract call with the library's abstract-call error.
[[noreturn]] inline void AbstractError() {
  throw EAbstractError();
}
