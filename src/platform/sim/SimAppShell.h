#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppShell.h"

namespace lumarin {

// The application object on the simulated Mac: records how the program presents itself;
// terminating runs the handler the composition root gives it (it stops the run loop); links
// of the program's URL scheme arrive as get-URL events.
class SimAppShell final : public AppShell {
 public:
  void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }
  ActivationPolicy activationPolicy() const override { return policy_; }
  void setMainMenu(Menu menu) override { menu_ = std::move(menu); }
  const Menu& mainMenu() const override { return menu_; }
  void activateIgnoringOtherApps() override { ++activations_; }
  void terminate() override {
    ++terminations_;
    if (onTerminate_) {
      onTerminate_();
    }
  }

  // Events that came before the handler was installed reach it now, in order.
  void setGetURLHandler(std::function<void(const std::optional<std::string>&)> handler) override {
    onGetURL_ = std::move(handler);
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (const auto& url : waiting) {
      if (onGetURL_) {
        onGetURL_(url);
      }
    }
  }

  void setTerminationHandler(std::function<void()> handler) { onTerminate_ = std::move(handler); }
  // A get-URL event reaches the program (call on the main queue); before the program has
  // installed its handler the event waits for it, as the system holds events for an app that
  // is still launching. Always taken.
  bool deliverGetURL(const std::optional<std::string>& url) {
    getURLEvents_.push_back(url.value_or(""));
    if (!onGetURL_) {
      waiting_.push_back(url);
      return true;
    }
    onGetURL_(url);
    return true;
  }
  const std::vector<std::string>& getURLEvents() const { return getURLEvents_; }
  int activations() const { return activations_; }
  int terminations() const { return terminations_; }

 private:
  ActivationPolicy policy_ = ActivationPolicy::regular;
  Menu menu_;
  int activations_ = 0;
  int terminations_ = 0;
  std::function<void()> onTerminate_;
  std::function<void(const std::optional<std::string>&)> onGetURL_;
  std::vector<std::string> getURLEvents_;
  std::vector<std::optional<std::string>> waiting_;
};

}  // namespace lumarin
