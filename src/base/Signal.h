#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace lumarin {

// An RAII subscription token: the subscription ends when the token is destroyed or reset.
// Tokens are movable and may outlive the signal they came from.
class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      reset();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  ~Subscription() { reset(); }

  void reset() {
    if (auto cancel = std::exchange(cancel_, nullptr)) {
      cancel();
    }
  }
  bool active() const { return static_cast<bool>(cancel_); }

 private:
  std::function<void()> cancel_;
};

// A synchronous multicast signal. Handlers run on the emitting thread, in subscription order.
// A handler may subscribe or unsubscribe (itself or others) while the signal is emitting:
// handlers removed during an emission are not called afterwards, handlers added during an
// emission are first called by the next one. Not thread-safe: one owner thread.
template <typename... Args>
class Signal {
 public:
  using Handler = std::function<void(const Args&...)>;

  Signal() : state_(std::make_shared<State>()) {}
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  [[nodiscard]] Subscription subscribe(Handler handler) {
    const std::uint64_t id = ++state_->nextId;
    state_->slots.push_back(std::make_shared<Slot>(Slot{id, std::move(handler), true}));
    std::weak_ptr<State> weak = state_;
    return Subscription([weak, id] {
      if (auto state = weak.lock()) {
        auto& slots = state->slots;
        auto it = std::find_if(slots.begin(), slots.end(),
                               [id](const auto& slot) { return slot->id == id; });
        if (it != slots.end()) {
          (*it)->live = false;
          slots.erase(it);
        }
      }
    });
  }

  void emit(const Args&... args) const {
    // Copy the list so that handlers may change it; the `live` flag skips removed ones.
    auto snapshot = state_->slots;
    for (const auto& slot : snapshot) {
      if (slot->live) {
        slot->handler(args...);
      }
    }
  }

  std::size_t subscriberCount() const { return state_->slots.size(); }

 private:
  struct Slot {
    std::uint64_t id;
    Handler handler;
    bool live;
  };
  struct State {
    std::vector<std::shared_ptr<Slot>> slots;
    std::uint64_t nextId = 0;
  };
  std::shared_ptr<State> state_;
};

}  // namespace lumarin
