#pragma once

#include <optional>

#include "base/Geometry.h"
#include "base/Properties.h"
#include "base/Signal.h"

namespace lumarin::sim {

class World;

// The maker's sibling screenshot app on the simulated Mac. Its HUD shows and hides when the
// scenario says so, and each change is announced on the layout notification. While its HUD is
// visible it keeps clear of the program's: when the program announces a visible HUD that its
// own overlaps, it moves to stand 8 points above it, centred on it, and announces the move.
class SimSibling {
 public:
  static constexpr const char* kNoteName = "jp.kestova.hud.layout";
  static constexpr double kGap = 8;

  explicit SimSibling(World& world);
  SimSibling(const SimSibling&) = delete;
  SimSibling& operator=(const SimSibling&) = delete;

  void setHUD(bool visible, const CocoaRect& frame);
  // The sibling's HUD while it is visible.
  std::optional<CocoaRect> hud() const;

 private:
  void heard(const std::string& name, const Properties& info);
  void announce();

  World& world_;
  bool visible_ = false;
  CocoaRect frame_;
  Subscription subscription_;
};

}  // namespace lumarin::sim
