#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace lumarin {

// Wraps `fn` so that it runs only while `owner` is alive; the owner is passed as the first
// argument. Used for callbacks, timers and posted tasks that may outlive their owner: once
// the owner is gone the call does nothing.
//
//   timer = scheduler.scheduleRepeating(main, 3s, 0s,
//       weakBind(shared_from_this(), [](Delegate& self) { self.housekeeping(); }));
template <typename Owner, typename Fn>
auto weakBind(std::weak_ptr<Owner> owner, Fn fn) {
  return [weak = std::move(owner), fn = std::move(fn)](auto&&... args) {
    if (auto strong = weak.lock()) {
      fn(*strong, std::forward<decltype(args)>(args)...);
    }
  };
}

template <typename Owner, typename Fn>
auto weakBind(const std::shared_ptr<Owner>& owner, Fn fn) {
  return weakBind(std::weak_ptr<Owner>(owner), std::move(fn));
}

// For owners that are not held by shared_ptr: the owner keeps a WeakPtrFactory as its last
// member (so it is destroyed first) and hands out weak pointers from it.
template <typename T>
class WeakPtrFactory {
 public:
  explicit WeakPtrFactory(T* owner) : anchor_(owner, [](T*) {}) {}
  WeakPtrFactory(const WeakPtrFactory&) = delete;
  WeakPtrFactory& operator=(const WeakPtrFactory&) = delete;

  std::weak_ptr<T> weak() const { return anchor_; }

  template <typename Fn>
  auto bind(Fn fn) const {
    return weakBind(anchor_, std::move(fn));
  }

  // Invalidates every weak pointer handed out so far.
  void invalidate(T* owner) {
    anchor_ = std::shared_ptr<T>(owner, [](T*) {});
  }

 private:
  std::shared_ptr<T> anchor_;
};

}  // namespace lumarin
