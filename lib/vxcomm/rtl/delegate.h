/// @file
/// A comparable method reference: an object and one of its member functions.
///
/// std::function cannot be compared, but the notify list must find a handler again by
/// identity (the pair of code and object), as a method pointer can be.
#pragma once

#include <utility>

namespace vxcomm {

/// A comparable method reference; see the specialisation for a function type.
template <typename Signature>
class TMethod;

/// A comparable reference to a member function of an object, called as R(Args...). The
/// object is not owned and must outlive every call.
template <typename R, typename... Args>
class TMethod<R(Args...)> {
 public:
  /// An empty reference.
  TMethod() = default;

  /// Binds Method of Object. The code identity is the trampoline instantiated for Method.
  template <auto Method, typename C>
  static TMethod Of(C* object) {
    TMethod m;
    m.data_ = object;
    m.code_ = &Trampoline<Method, C>;
    return m;
  }

  /// True when a method is bound.
  explicit operator bool() const { return code_ != nullptr; }
  /// Calls the method; must not be called on an empty reference.
  R operator()(Args... args) const { return code_(data_, std::forward<Args>(args)...); }
  /// The bound object.
  const void* Data() const { return data_; }

  /// References are equal when they bind the same method of the same object.
  friend bool operator==(const TMethod& a, const TMethod& b) {
    return a.code_ == b.code_ && a.data_ == b.data_;
  }

 private:
  using Code = R (*)(void*, Args...);

  template <auto Method, typename C>
  static R Trampoline(void* data, Args... args) {
    return (static_cast<C*>(data)->*Method)(std::forward<Args>(args)...);
  }

  void* data_ = nullptr;
  Code code_ = nullptr;
};

}  // namespace vxcomm
