#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "base/Signal.h"
#include "platform/Screens.h"

class QObject;
class QScreen;

namespace lumarin {

// The desktop's displays as the window system reports them through Qt, in the port's
// bottom-left convention (the primary screen first, flipped at its top edge). No display has a
// notch or auxiliary areas here. The list is read on the main thread when the screens change
// and handed to other threads from a copy under a lock.
//
// Construct and destroy on the main thread, after the QGuiApplication exists.
class QtScreens final : public Screens {
 public:
  QtScreens();
  ~QtScreens() override;
  QtScreens(const QtScreens&) = delete;
  QtScreens& operator=(const QtScreens&) = delete;

  std::vector<ScreenInfo> screens() const override;
  CocoaPoint mouseLocation() const override;
  [[nodiscard]] Subscription subscribeParametersChanged(std::function<void()> handler) override;

 private:
  void reread();
  void watch(QScreen* screen);

  mutable std::mutex lock_;
  std::vector<ScreenInfo> screens_;  // under lock_
  double flipY_ = 0;                 // under lock_: the primary screen's bottom in Qt's points
  Signal<> changed_;
  std::unique_ptr<QObject> context_;  // the receiver of Qt's screen signals
};

}  // namespace lumarin
