#include "platform/sim/SimSibling.h"

#include <cmath>

#include "platform/sim/World.h"

namespace lumarin::sim {

namespace {

std::optional<double> number(const Properties& info, const char* key) {
  auto it = info.find(key);
  if (it == info.end()) {
    return std::nullopt;
  }
  if (const auto* d = std::get_if<double>(&it->second)) {
    return std::isfinite(*d) ? std::optional<double>(*d) : std::nullopt;
  }
  if (const auto* i = std::get_if<std::int64_t>(&it->second)) {
    return static_cast<double>(*i);
  }
  return std::nullopt;
}

}  // namespace

SimSibling::SimSibling(World& world) : world_(world) {
  subscription_ = world_.subscribeNotifications(
      [this](const std::string& name, const Properties& info) { heard(name, info); });
}

void SimSibling::setHUD(bool visible, const CocoaRect& frame) {
  visible_ = visible;
  frame_ = frame;
  announce();
}

std::optional<CocoaRect> SimSibling::hud() const {
  return visible_ ? std::optional<CocoaRect>(frame_) : std::nullopt;
}

void SimSibling::announce() {
  world_.postNotification(kNoteName, {{"app", std::string("pellior")},
                                      {"visible", visible_},
                                      {"x", frame_.minX()},
                                      {"y", frame_.minY()},
                                      {"w", frame_.width()},
                                      {"h", frame_.height()}});
}

void SimSibling::heard(const std::string& name, const Properties& info) {
  if (name != kNoteName || !visible_) {
    return;
  }
  auto app = info.find("app");
  auto visible = info.find("visible");
  if (app == info.end() || visible == info.end() ||
      std::get_if<std::string>(&app->second) == nullptr ||
      *std::get_if<std::string>(&app->second) == "pellior" ||
      std::get_if<bool>(&visible->second) == nullptr || !std::get<bool>(visible->second)) {
    return;
  }
  const auto x = number(info, "x");
  const auto y = number(info, "y");
  const auto w = number(info, "w");
  const auto h = number(info, "h");
  if (!x || !y || !w || !h) {
    return;
  }
  const CocoaRect theirs(*x, *y, *w, *h);
  if (!theirs.intersects(frame_)) {
    return;  // already clear
  }
  frame_ = CocoaRect(std::round(theirs.midX() - frame_.width() / 2), theirs.maxY() + kGap,
                     frame_.width(), frame_.height());
  announce();
}

}  // namespace lumarin::sim
