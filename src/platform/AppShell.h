#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/Menu.h"

namespace lumarin {

enum class ActivationPolicy { regular, accessory, prohibited };

// The application object: how it presents itself (no Dock icon, no menu bar menus for an
// accessory), its main menu, which an accessory application keeps for key equivalents,
// bringing itself to the front, and ending the program. Main queue.
class AppShell {
 public:
  virtual ~AppShell() = default;
  virtual void setActivationPolicy(ActivationPolicy policy) = 0;
  virtual ActivationPolicy activationPolicy() const = 0;
  virtual void setMainMenu(Menu menu) = 0;
  virtual const Menu& mainMenu() const = 0;
  // NSApp.activate(ignoringOtherApps: true).
  virtual void activateIgnoringOtherApps() = 0;
  // Ends the program normally (the run loop returns; the delegate hears of it).
  virtual void terminate() = 0;
  // The system's get-URL event (a link of the program's URL scheme was opened), with its
  // direct-object string, absent when the event carries none. Delivered on the main queue.
  virtual void setGetURLHandler(std::function<void(const std::optional<std::string>&)> handler) = 0;
};

}  // namespace lumarin
