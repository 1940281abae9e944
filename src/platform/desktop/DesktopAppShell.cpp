#include "platform/desktop/DesktopAppShell.h"

#include <QApplication>
#include <QWidget>

namespace lumarin {

void DesktopAppShell::activateIgnoringOtherApps() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible() && window->isWindow()) {
      window->raise();
      window->activateWindow();
    }
  }
}

void DesktopAppShell::terminate() {
  if (onTerminate_) {
    onTerminate_();
  }
}

void DesktopAppShell::setGetURLHandler(
    std::function<void(const std::optional<std::string>&)> handler) {
  onGetURL_ = std::move(handler);
  auto waiting = std::move(waiting_);
  waiting_.clear();
  for (const auto& url : waiting) {
    if (onGetURL_) {
      onGetURL_(url);
    }
  }
}

bool DesktopAppShell::deliverGetURL(const std::optional<std::string>& url) {
  getURLEvents_.push_back(url.value_or(""));
  if (!onGetURL_) {
    waiting_.push_back(url);
    return true;
  }
  onGetURL_(url);
  return true;
}

}  // namespace lumarin
