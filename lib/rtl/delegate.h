// A comparable method reference: an object and one of its member functions.
//
// std::function cannot be compared, but the notify list must find a handler again by
// identity (the pair of code and object), as a method pointer can be.
#pragma once

#include <utility>

template <typename Signature>
class TMethod;

template <typename R, typename... Args>
class TMethod<R(Args...)> {
 public:
  TMethod() = default;

  // Binds Method of Object. The code identity is the trampoline instantiated for Method.
  template <auto Method, typename C>
  static TMethod Of(C* object) {
    TMethod m;
    m.data_ = object;
    m.code_ = &Trampoline<Method, C>;
    return m;
  }

  explicit operator bool() const { return code_ != nullptr; }
  R operator()(Args... args) const { return code_(data_, std::forward<Args>(args)...); }
  const void* Data() const { return data_; }

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
