#pragma once

#include <utility>

#include "base/Signal.h"

namespace lumarin {

// A current value plus change notifications. `willChange` fires before the value is stored
// (subscribers still read the old value), `changed` after, with the new value. Every
// assignment notifies, even when the value is equal: callers that persist on assignment rely
// on it. Same threading rule as Signal.
template <typename T>
class Observable {
 public:
  Observable() = default;
  explicit Observable(T initial) : value_(std::move(initial)) {}
  Observable(const Observable&) = delete;
  Observable& operator=(const Observable&) = delete;

  const T& get() const { return value_; }
  const T& operator*() const { return value_; }
  const T* operator->() const { return &value_; }

  void set(T value) {
    willChange_.emit();
    value_ = std::move(value);
    changed_.emit(value_);
  }

  // Replaces the value without notifying anyone (for loading stored state).
  void setSilently(T value) { value_ = std::move(value); }

  // Subscribes to changes; the handler is not called with the current value.
  [[nodiscard]] Subscription observe(typename Signal<T>::Handler handler) const {
    return changed_.subscribe(std::move(handler));
  }
  // Calls the handler with the current value at once, then on every change.
  [[nodiscard]] Subscription bind(typename Signal<T>::Handler handler) const {
    handler(value_);
    return changed_.subscribe(std::move(handler));
  }
  [[nodiscard]] Subscription observeWillChange(std::function<void()> handler) const {
    return willChange_.subscribe([h = std::move(handler)] { h(); });
  }

 private:
  T value_{};
  // Subscribing does not change the value, so observers may hold a const reference.
  mutable Signal<> willChange_;
  mutable Signal<T> changed_;
};

}  // namespace lumarin
