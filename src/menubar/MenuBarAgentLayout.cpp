#include "menubar/MenuBarAgentLayout.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "platform/Workspace.h"

namespace lumarin {

namespace {

bool within(double a, double b, double tolerance) { return std::abs(a - b) <= tolerance; }

}  // namespace

std::vector<MenuBarAgentLayout::Slot> MenuBarAgentLayout::Layout::drawnSlots() const {
  std::optional<double> threshold;
  for (const auto& slot : slots) {
    if (slot.isChevron) {
      threshold = slot.rect.maxX() - 1;
      break;
    }
  }
  std::vector<Slot> out;
  for (const auto& slot : slots) {
    if (!slot.isChevron && (!threshold || slot.rect.minX() >= *threshold)) {
      out.push_back(slot);
    }
  }
  return out;
}

std::vector<MenuBarAgentLayout::Layout> MenuBarAgentLayout::snapshot() {
  std::optional<int> pid;
  for (const auto& app : workspace_.runningApplications()) {
    if (app.bundleIdentifier == "com.apple.MenuBarAgent") {
      pid = app.pid;
      break;
    }
  }
  if (!pid) {
    return {};
  }
  const AXElement app = ax_.createApplication(*pid);
  ax_.setMessagingTimeout(app, kSnapshotTimeout);
  std::vector<Layout> layouts;
  const auto windows = ax_.elementsAttribute(app, "AXChildren");
  if (!windows) {
    return layouts;
  }
  static const std::vector<std::string> kSlotAttributes = {"AXRole", "AXPosition", "AXSize"};
  for (const auto& window : *windows) {
    // Elements handed out by another call carry the system's default timeout, not their
    // parent's: each gets the snapshot's own before it is asked anything.
    ax_.setMessagingTimeout(window, kSnapshotTimeout);
    if (ax_.stringAttribute(window, "AXRole") != "AXWindow") {
      continue;
    }
    const auto position = ax_.pointAttribute(window, "AXPosition");
    const auto size = ax_.sizeAttribute(window, "AXSize");
    if (!position || !size || !(size->width > 0)) {
      continue;
    }
    const auto children = ax_.elementsAttribute(window, "AXChildren");
    if (!children) {
      continue;
    }
    Layout layout;
    layout.frame = GlobalRect(*position, *size);
    for (const auto& child : *children) {
      ax_.setMessagingTimeout(child, kSnapshotTimeout);
      std::vector<AXValue> values;
      if (ax_.copyMultipleAttributeValues(child, kSlotAttributes, values) != kAXErrorSuccess ||
          values.size() != 3) {
        continue;
      }
      const auto slotPosition = values[1].asPoint();
      const auto slotSize = values[2].asSize();
      if (!slotPosition || !slotSize || !(slotSize->width > 0)) {
        continue;
      }
      layout.slots.push_back(
          Slot{GlobalRect(*slotPosition, *slotSize), values[0].asString() == "AXButton", child});
    }
    std::stable_sort(layout.slots.begin(), layout.slots.end(),
                     [](const Slot& a, const Slot& b) { return a.rect.minX() < b.rect.minX(); });
    layouts.push_back(std::move(layout));
  }
  return layouts;
}

std::optional<int> MenuBarAgentLayout::resolvePID(const AXElement& slot) {
  ax_.setMessagingTimeout(slot, kResolveTimeout);
  const auto children = ax_.elementsAttribute(slot, "AXChildren");
  if (!children) {
    return std::nullopt;
  }
  for (const auto& child : *children) {
    // The slot's child is the owning application's element: asking it anything messages that
    // app, which may be the one not answering.
    ax_.setMessagingTimeout(child, kResolveTimeout);
    if (ax_.stringAttribute(child, "AXRole") != "AXApplication") {
      continue;
    }
    int pid = 0;
    if (ax_.getPid(child, pid) == kAXErrorSuccess && pid >= 1) {
      return pid;
    }
  }
  return std::nullopt;
}

std::optional<MenuBarAgentLayout::Layout> MenuBarAgentLayout::displayedLayout(
    const std::vector<Layout>& layouts, const GlobalRect& screen,
    const std::optional<GlobalRect>& chevron, const std::vector<GlobalRect>& systemRects) {
  std::vector<const Layout*> candidates;
  for (const auto& layout : layouts) {
    if (within(layout.frame.minX(), screen.minX(), 1) &&
        within(layout.frame.minY(), screen.minY(), 1) &&
        within(layout.frame.width(), screen.width(), 1)) {
      candidates.push_back(&layout);
    }
  }
  const Layout* best = nullptr;
  for (const Layout* candidate : candidates) {
    const Slot* firstChevron = nullptr;
    for (const auto& slot : candidate->slots) {
      if (slot.isChevron) {
        firstChevron = &slot;
        break;
      }
    }
    if (!chevron) {
      if (firstChevron != nullptr) {
        continue;
      }
    } else if (firstChevron == nullptr || !within(firstChevron->rect.midX(), chevron->midX(), 1) ||
               !within(firstChevron->rect.width(), chevron->width(), 1)) {
      continue;
    }
    const bool meetsSystem =
        std::all_of(systemRects.begin(), systemRects.end(), [&](const auto& r) {
          return std::any_of(candidate->slots.begin(), candidate->slots.end(), [&](const Slot& s) {
            return within(s.rect.midX(), r.midX(), 1) && within(s.rect.width(), r.width(), 1);
          });
        });
    if (!meetsSystem) {
      continue;
    }
    if (best == nullptr || candidate->slots.size() > best->slots.size()) {
      best = candidate;
    }
  }
  if (best != nullptr) {
    return *best;
  }
  if (!chevron && systemRects.empty() && candidates.size() == 1) {
    return *candidates.front();
  }
  return std::nullopt;
}

MenuBarAgentLayout::Placement MenuBarAgentLayout::match(
    const std::vector<std::pair<std::string, GlobalRect>>& items, const Layout& layout) {
  const auto drawn = layout.drawnSlots();
  std::map<std::size_t, std::vector<std::string>> choices;
  for (const auto& [id, frame] : items) {
    std::optional<std::size_t> best;
    double bestDistance = 0;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
      const GlobalRect& s = drawn[i].rect;
      const double d = std::abs(s.midX() - frame.midX());
      if (d <= 3 && s.width() >= frame.width() - 4 && s.width() <= frame.width() + 24 &&
          std::abs(s.midY() - frame.midY()) <= 12 && (!best || d < bestDistance)) {
        best = i;
        bestDistance = d;
      }
    }
    if (best) {
      choices[*best].push_back(id);
    }
  }
  Placement placement;
  for (std::size_t i = 0; i < drawn.size(); ++i) {
    auto it = choices.find(i);
    if (it == choices.end()) {
      placement.unclaimed.push_back(i);
    } else if (it->second.size() == 1) {
      placement.matched[it->second.front()] = drawn[i].rect;
    } else {
      placement.contested[i] = it->second;
    }
  }
  return placement;
}

std::pair<std::vector<ExternalStatusItem>, std::string> MenuBarAgentLayout::place(
    const std::vector<ExternalStatusItem>& items, const std::vector<Layout>& layouts,
    const std::vector<MenuBarScreen>& screens, const std::optional<GlobalRect>& chevron,
    const std::vector<GlobalRect>& systemRects, const std::vector<GlobalRect>& knownRects,
    const std::function<bool(const ExternalStatusItem&)>& fallbackIsDrawn) {
  std::vector<ExternalStatusItem> out;
  std::vector<std::string> notes;
  std::vector<bool> emitted(items.size(), false);
  for (const auto& screen : screens) {
    std::vector<std::size_t> onScreen;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const double mid = items[i].frame.midX();
      // On the shared edge of two screens the first screen takes the item: each comes back once.
      if (!emitted[i] && mid >= screen.frame.minX() && mid <= screen.frame.maxX()) {
        onScreen.push_back(i);
      }
    }
    if (onScreen.empty()) {
      continue;
    }
    const auto layout = displayedLayout(layouts, screen.frame, chevron, systemRects);
    if (!layout) {
      for (auto i : onScreen) {
        ExternalStatusItem item = items[i];
        item.drawnHint = fallbackIsDrawn ? fallbackIsDrawn(item) : true;
        out.push_back(std::move(item));
        emitted[i] = true;
      }
      notes.push_back("fallback(windows=" + std::to_string(layouts.size()) + ")");
      continue;
    }
    std::vector<std::pair<std::string, GlobalRect>> keyed;
    keyed.reserve(onScreen.size());
    for (auto i : onScreen) {
      keyed.emplace_back(items[i].id(), items[i].frame);
    }
    Placement placement = match(keyed, *layout);
    const auto drawn = layout->drawnSlots();
    int contestedResolved = 0;
    for (const auto& [slotIndex, ids] : placement.contested) {
      const auto pid = resolvePID(drawn[slotIndex].element);
      if (!pid) {
        continue;
      }
      std::vector<std::string> owners;
      for (const auto& id : ids) {
        for (auto i : onScreen) {
          if (items[i].id() == id && items[i].pid == *pid) {
            owners.push_back(id);
          }
        }
      }
      if (owners.size() == 1) {
        placement.matched[owners.front()] = drawn[slotIndex].rect;
        ++contestedResolved;
      }
    }
    std::vector<GlobalRect> exclusions = systemRects;
    exclusions.insert(exclusions.end(), knownRects.begin(), knownRects.end());
    std::vector<std::size_t> remaining;
    for (auto slotIndex : placement.unclaimed) {
      const GlobalRect& s = drawn[slotIndex].rect;
      const bool excluded = std::any_of(exclusions.begin(), exclusions.end(), [&](const auto& r) {
        return within(s.midX(), r.midX(), 3) && within(s.width(), r.width(), 16);
      });
      if (!excluded) {
        remaining.push_back(slotIndex);
      }
    }
    int staleResolved = 0;
    for (auto slotIndex : remaining) {
      const auto pid = resolvePID(drawn[slotIndex].element);
      if (!pid) {
        continue;
      }
      std::vector<std::size_t> candidates;
      for (auto i : onScreen) {
        if (items[i].pid == *pid && placement.matched.count(items[i].id()) == 0) {
          candidates.push_back(i);
        }
      }
      if (candidates.size() == 1) {
        placement.matched[items[candidates.front()].id()] = drawn[slotIndex].rect;
        ++staleResolved;
      }
    }
    for (auto i : onScreen) {
      ExternalStatusItem item = items[i];
      auto it = placement.matched.find(item.id());
      if (it != placement.matched.end()) {
        item.frame = GlobalRect(it->second.minX(), item.frame.minY(), it->second.width(),
                                item.frame.height());
        item.drawnHint = true;
      } else {
        item.drawnHint = false;
      }
      out.push_back(std::move(item));
      emitted[i] = true;
    }
    const int unclaimed = std::max(0, static_cast<int>(remaining.size()) - staleResolved);
    notes.push_back("slots=" + std::to_string(layout->slots.size()) +
                    " drawnSlots=" + std::to_string(drawn.size()) +
                    " drawn=" + std::to_string(placement.matched.size()) +
                    " contested=" + std::to_string(placement.contested.size()) + "/" +
                    std::to_string(contestedResolved) + " stale=" + std::to_string(staleResolved) +
                    " unclaimed=" + std::to_string(unclaimed));
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!emitted[i]) {
      ExternalStatusItem item = items[i];
      item.drawnHint = false;
      out.push_back(std::move(item));
    }
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return a.frame.minX() < b.frame.minX(); });
  std::string note;
  for (const auto& n : notes) {
    note += (note.empty() ? "" : ";") + n;
  }
  return {std::move(out), note.empty() ? "no-items" : note};
}

}  // namespace lumarin
