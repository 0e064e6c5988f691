// Marks the current thread as running one of an owner's event callbacks (a discovery's, a
// search's), so that a callback may call back into its owner (stop(), start()) without taking
// the delivery lock the owner already holds while it runs the callback.
//
// Thread safety: the mark is the calling thread's own; scopes nest.
#pragma once

#include <utility>

namespace vuv {

class DeliveryScope {
 public:
  explicit DeliveryScope(const void* owner) : saved_(std::exchange(current_, owner)) {}
  ~DeliveryScope() { current_ = saved_; }
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;

  // True on a thread that is running one of `owner`'s callbacks.
  static bool delivering(const void* owner) { return current_ == owner; }

 private:
  static inline thread_local const void* current_ = nullptr;
  const void* saved_;
};

}  // namespace vuv
