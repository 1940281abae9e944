#pragma once

#include <functional>

#include "platform/AppShell.h"

namespace lumarin {

// The application object on the simulated Mac: records how the program presents itself;
// terminating runs the handler the composition root gives it (it stops the run loop).
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

  void setTerminationHandler(std::function<void()> handler) { onTerminate_ = std::move(handler); }
  int activations() const { return activations_; }
  int terminations() const { return terminations_; }

 private:
  ActivationPolicy policy_ = ActivationPolicy::regular;
  Menu menu_;
  int activations_ = 0;
  int terminations_ = 0;
  std::function<void()> onTerminate_;
};

}  // namespace lumarin
