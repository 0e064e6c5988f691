// Result<T>: a value or an Error. The core's replacement for exceptions across layers.
#pragma once

#include <cassert>
#include <utility>
#include <variant>

#include "base/error.h"

namespace vuv {

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { assert(ok()); return std::get<0>(state_); }
  const T& value() const& { assert(ok()); return std::get<0>(state_); }
  T&& value() && { assert(ok()); return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Error& error() const { assert(!ok()); return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

// For operations that return nothing but may fail.
struct Ok {};
using Status = Result<Ok>;
inline Status success() { return Ok{}; }

}  // namespace vuv
