#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Observable.h"
#include "base/Signal.h"
#include "base/WeakBind.h"

namespace lumarin {
namespace {

TEST(SignalTest, SubscriptionEndsWithItsToken) {
  Signal<int> signal;
  std::vector<int> seen;
  {
    Subscription token = signal.subscribe([&](int v) { seen.push_back(v); });
    signal.emit(1);
    Subscription moved = std::move(token);
    signal.emit(2);
  }
  signal.emit(3);
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  EXPECT_EQ(signal.subscriberCount(), 0u);
}

TEST(SignalTest, HandlersMayUnsubscribeOthersAndSubscribeDuringEmission) {
  Signal<> signal;
  std::vector<std::string> calls;
  Subscription second;
  Subscription added;
  Subscription first = signal.subscribe([&] {
    calls.push_back("first");
    second.reset();  // removed before its turn: must not run
    added = signal.subscribe([&] { calls.push_back("added"); });
  });
  second = signal.subscribe([&] { calls.push_back("second"); });
  signal.emit();
  EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
}

TEST(SignalTest, TokenMayOutliveTheSignal) {
  Subscription token;
  {
    Signal<int> signal;
    token = signal.subscribe([](int) {});
  }
  token.reset();  // must not touch the destroyed signal
  EXPECT_FALSE(token.active());
}

TEST(ObservableTest, WillChangeSeesOldValueAndEveryAssignmentNotifies) {
  Observable<int> value(1);
  std::vector<std::string> events;
  auto will = value.observeWillChange([&] { events.push_back("will:" + std::to_string(*value)); });
  auto did = value.observe([&](int v) { events.push_back("did:" + std::to_string(v)); });
  value.set(2);
  value.set(2);
  value.setSilently(5);
  EXPECT_EQ(events, (std::vector<std::string>{"will:1", "did:2", "will:2", "did:2"}));
  std::vector<int> bound;
  auto b = value.bind([&](int v) { bound.push_back(v); });
  EXPECT_EQ(bound, (std::vector<int>{5}));
}

TEST(WeakBindTest, CallDoesNothingOnceTheOwnerIsGone) {
  struct Owner {
    int calls = 0;
  };
  auto owner = std::make_shared<Owner>();
  auto callback = weakBind(owner, [](Owner& o, int n) { o.calls += n; });
  callback(2);
  EXPECT_EQ(owner->calls, 2);
  owner.reset();
  callback(3);  // no crash, no effect

  struct Plain {
    int calls = 0;
    WeakPtrFactory<Plain> weak{this};
  };
  std::function<void()> later;
  {
    Plain plain;
    later = plain.weak.bind([](Plain& p) { ++p.calls; });
    later();
    EXPECT_EQ(plain.calls, 1);
  }
  later();
}

}  // namespace
}  // namespace lumarin
