#pragma once

#include <QWidget>

#include "base/Signal.h"

namespace lumarin {

struct SettingsContext;

// The general tab's block for the HUD: opening it with Control Center, the hot key as a key
// cap with "Show now", and, while screen recording is not allowed, a row that asks for it. The
// permission is re-read on every tick of the tab's 1.5-second timer. On a platform without a
// screen-recording permission there is no such row at all. Main thread.
class HUDSettingsSection : public QWidget {
 public:
  HUDSettingsSection(SettingsContext& context, QWidget* parent = nullptr);
  ~HUDSettingsSection() override;

  // A tick of the tab's permission timer.
  void poll();
  // True also where the platform has no such permission: nothing is missing there.
  bool captureGranted() const { return captureGranted_; }
  // Null where the platform has no screen-recording permission.
  QWidget* captureRow() const { return captureRow_; }

 private:
  SettingsContext& context_;
  bool captureGranted_;
  QWidget* captureRow_ = nullptr;
  QWidget* captureDivider_ = nullptr;
  Subscription followSubscription_;
};

}  // namespace lumarin
