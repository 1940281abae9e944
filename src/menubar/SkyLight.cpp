#include "menubar/SkyLight.h"

#include <algorithm>
#include <cmath>

#include "platform/WindowServer.h"

namespace lumarin {

std::vector<MenuBarWindow> SkyLight::menuBarItemWindows() {
  std::vector<std::uint32_t> buffer(kCapacity, 0);
  int count = 0;
  const int error = windowServer_.processMenuBarWindowList(kCapacity, buffer, count);
  if (error != 0 || count < 1) {
    return {};
  }
  buffer.resize(static_cast<std::size_t>(std::min(count, kCapacity)));
  auto descriptions = windowServer_.describeWindows(buffer);
  if (!descriptions || descriptions->empty()) {
    descriptions = windowServer_.windowList(WindowListOption::all);
  }
  std::map<std::uint32_t, std::string> names;
  if (descriptions) {
    for (const auto& d : *descriptions) {
      if (d.number && d.name && !d.name->empty()) {
        names[*d.number] = *d.name;
      }
    }
  }
  std::vector<MenuBarWindow> out;
  for (auto id : buffer) {
    auto it = names.find(id);
    const std::string name = it == names.end() ? std::string() : it->second;
    if (name == "System Status Item Clone") {
      continue;
    }
    GlobalRect rect;
    if (windowServer_.screenRectForWindow(id, rect) != 0) {
      continue;
    }
    if (rect.width() > 1 && rect.height() <= 40) {
      out.push_back(MenuBarWindow{id, rect, name});
    }
  }
  return out;
}

std::set<std::uint32_t> SkyLight::onscreenWindowIDs() {
  std::set<std::uint32_t> out;
  const auto list = windowServer_.windowList(WindowListOption::onScreenOnly);
  if (!list) {
    return out;
  }
  for (const auto& d : *list) {
    if (d.isOnscreen.value_or(false) && d.number) {
      out.insert(*d.number);
    }
  }
  return out;
}

std::optional<std::uint32_t> SkyLight::windowIDForCenter(const GlobalRect& rect,
                                                         const std::vector<MenuBarWindow>& windows,
                                                         std::set<std::uint32_t>& consumed,
                                                         const std::optional<std::string>& owner,
                                                         double tolerance, bool markerMove) {
  struct Candidate {
    const MenuBarWindow* window;
    double distance;
  };
  std::vector<Candidate> candidates;
  for (const auto& w : windows) {
    if (consumed.count(w.id) != 0) {
      continue;
    }
    const double d = std::hypot(w.rect.midX() - rect.midX(), w.rect.midY() - rect.midY());
    if (d <= tolerance) {
      candidates.push_back({&w, d});
    }
  }
  if (candidates.empty()) {
    return std::nullopt;
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
  std::vector<const MenuBarWindow*> tied;
  for (const auto& c : candidates) {
    if (c.distance - candidates.front().distance <= 0.5) {
      tied.push_back(c.window);
    }
  }
  const MenuBarWindow* chosen = candidates.front().window;
  if (owner) {
    const MenuBarWindow* pick = nullptr;
    if (markerMove) {
      for (const auto* w : tied) {
        if (w->title == *owner) {
          pick = w;
          break;
        }
      }
    }
    if (pick == nullptr) {
      for (const auto* w : tied) {
        if (w->title != *owner) {
          pick = w;
          break;
        }
      }
    }
    if (pick != nullptr) {
      chosen = pick;
    }
  }
  for (const auto* w : tied) {
    consumed.insert(w->id);
  }
  return chosen->id;
}

StatusWindowMap statusWindowsByPID(WindowServer& windowServer) {
  StatusWindowMap map;
  const auto list = windowServer.windowList(WindowListOption::all);
  if (!list) {
    return map;
  }
  for (const auto& d : *list) {
    if (d.layer == 25 && d.ownerPID && d.number && d.bounds) {
      map[*d.ownerPID].push_back(StatusWindow{*d.number, *d.bounds});
    }
  }
  return map;
}

std::optional<std::uint32_t> windowIDForFrame(const GlobalRect& rect, int pid,
                                              const StatusWindowMap& map) {
  auto it = map.find(pid);
  if (it == map.end() || it->second.empty()) {
    return std::nullopt;
  }
  const StatusWindow* best = nullptr;
  double bestDistance = 0;
  for (const auto& w : it->second) {
    const double d = std::abs(w.frame.midX() - rect.midX());
    if (best == nullptr || d < bestDistance) {
      best = &w;
      bestDistance = d;
    }
  }
  if (bestDistance < 25) {
    return best->windowID;
  }
  return std::nullopt;
}

}  // namespace lumarin
