#include "menubar/ControlCenterExtras.h"

#include "platform/Workspace.h"

namespace lumarin {

namespace {

const char* const kHosts[] = {"com.apple.MenuBarAgent", "com.apple.controlcenter"};

}  // namespace

GlobalRect ControlCenterExtras::frame(const AXElement& element) {
  const auto position = ax_.pointAttribute(element, "AXPosition").value_or(GlobalPoint{0, 0});
  const auto size = ax_.sizeAttribute(element, "AXSize").value_or(Size{0, 0});
  return GlobalRect(position, size);
}

ControlCenterExtras::Snapshot ControlCenterExtras::snapshot() {
  const auto running = workspace_.runningApplications();
  for (const char* host : kHosts) {
    for (const auto& app : running) {
      if (app.bundleIdentifier == host) {
        Snapshot s = snapshot(app.pid);
        if (!s.empty()) {
          return s;
        }
        break;
      }
    }
  }
  return {};
}

ControlCenterExtras::Snapshot ControlCenterExtras::snapshot(int hostPID) {
  Snapshot out;
  const AXElement app = ax_.createApplication(hostPID);
  ax_.setMessagingTimeout(app, kMessagingTimeout);
  AXValue barValue;
  if (ax_.copyAttributeValue(app, "AXExtrasMenuBar", barValue) != kAXErrorSuccess ||
      !barValue.asElement()) {
    return {};
  }
  // Every element reached through another one starts with the system's default timeout:
  // each gets the host's own before it is asked anything.
  const AXElement bar = *barValue.asElement();
  ax_.setMessagingTimeout(bar, kMessagingTimeout);
  const auto children = ax_.elementsAttribute(bar, "AXChildren");
  if (!children) {
    return {};
  }
  AXValue overflowValue;
  if (ax_.copyAttributeValue(bar, "AXOverflowButton", overflowValue) == kAXErrorSuccess) {
    if (auto button = overflowValue.asElement()) {
      ax_.setMessagingTimeout(*button, kMessagingTimeout);
      const GlobalRect r = frame(*button);
      if (r.width() > 0) {
        out.overflowChevron = r;
      }
    }
  }
  for (const auto& child : *children) {
    ax_.setMessagingTimeout(child, kMessagingTimeout);
    const GlobalRect childFrame = frame(child);
    const auto role = ax_.stringAttribute(child, "AXRole");
    if (role == "AXButton") {
      if (childFrame.width() > 0 && !out.overflowChevron) {
        out.overflowChevron = childFrame;
      }
      continue;
    }
    AXElement element = child;
    if (role == "AXGroup") {
      const auto inner = ax_.elementsAttribute(child, "AXChildren");
      if (!inner || inner->empty()) {
        continue;
      }
      element = inner->front();
      ax_.setMessagingTimeout(element, kMessagingTimeout);
    }
    GlobalRect itemFrame = element == child ? childFrame : frame(element);
    if (!(itemFrame.width() > 0)) {
      itemFrame = childFrame;
    }
    if (!(itemFrame.width() > 0)) {
      continue;
    }
    Item item;
    item.identifier = ax_.stringAttribute(element, "AXIdentifier").value_or("");
    item.description = ax_.stringAttribute(element, "AXDescription").value_or("");
    item.frame = itemFrame;
    item.element = element;
    item.pid = hostPID;
    out.items.push_back(std::move(item));
  }
  return out;
}

}  // namespace lumarin
