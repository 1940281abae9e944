#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppShell.h"

namespace lumarin {

// The application object on the desktop. A tray program has no Dock icon and no menu bar to
// present itself in, so the activation policy and the main menu are only remembered (the
// windows' own shortcuts serve for editing); activating brings the program's open windows to
// the front; terminating runs the handler the composition root gives it (it stops the run
// loop); links of the program's scheme arrive from the desktop's URL handler as get-URL
// events, held until the program listens. Main queue.
class DesktopAppShell final : public AppShell {
 public:
  DesktopAppShell() = default;
  DesktopAppShell(const DesktopAppShell&) = delete;
  DesktopAppShell& operator=(const DesktopAppShell&) = delete;

  void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }
  ActivationPolicy activationPolicy() const override { return policy_; }
  void setMainMenu(Menu menu) override { menu_ = std::move(menu); }
  const Menu& mainMenu() const override { return menu_; }
  void activateIgnoringOtherApps() override;
  void terminate() override;
  void setGetURLHandler(std::function<void(const std::optional<std::string>&)> handler) override;

  void setTerminationHandler(std::function<void()> handler) { onTerminate_ = std::move(handler); }
  // A get-URL event reaches the program (main queue). Always taken.
  bool deliverGetURL(const std::optional<std::string>& url);
  // Each link that arrived, in order (the run's report lists them).
  const std::vector<std::string>& getURLEvents() const { return getURLEvents_; }

 private:
  ActivationPolicy policy_ = ActivationPolicy::regular;
  Menu menu_;
  std::function<void()> onTerminate_;
  std::function<void(const std::optional<std::string>&)> onGetURL_;
  std::vector<std::string> getURLEvents_;
  std::vector<std::optional<std::string>> waiting_;
};

}  // namespace lumarin
