#pragma once

#include "platform/AppShell.h"

namespace lumarin {

// The application object on the simulated Mac: records how the program presents itself.
class SimAppShell final : public AppShell {
 public:
  void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }
  ActivationPolicy activationPolicy() const override { return policy_; }
  void setMainMenu(Menu menu) override { menu_ = std::move(menu); }
  const Menu& mainMenu() const override { return menu_; }

 private:
  ActivationPolicy policy_ = ActivationPolicy::regular;
  Menu menu_;
};

}  // namespace lumarin
