#pragma once

#include <QPointF>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "platform/Menu.h"

class QComboBox;
class QLineEdit;
class QMenu;
class QPainter;
class QTimer;

namespace lumarin::sim {

struct ScenarioEvent;
struct SimulatedMac;

// The simulated Mac on this machine's screen: the first screen with its menu bar as the
// simulated Mac draws it, the Dock with its badges and whatever the program shows (the HUD),
// scaled to the window; and a side panel that drives the world. Clicks on the drawn desktop
// and every control of the panel go through the same event path as a scenario's timeline, so
// the program sees a person's input exactly as it sees a scripted one. Menus the program opens
// at its items appear as real menus at the click.
class SimulatorWindow final : public QWidget {
 public:
  struct Dependencies {
    SimulatedMac& mac;
    // Paints the program's windows (the HUD) and the other desktop windows over the
    // wallpaper, in the first screen's top-left points; may be empty.
    std::function<void(QPainter&)> paintWindows;
    // Runs the world's time at this many times real time from now on: delays, timers and the
    // clocks. Empty when the run keeps time of its own; the speed control is then disabled.
    std::function<void(double)> setTimeRate;
    // The rate the world's time runs at when the window opens.
    double timeRate = 1.0;
  };

  // The speeds the side panel offers, as multiples of real time.
  static constexpr std::array<double, 4> kTimeRates = {1, 2, 10, 60};

  explicit SimulatorWindow(Dependencies deps);
  ~SimulatorWindow() override;
  SimulatorWindow(const SimulatorWindow&) = delete;
  SimulatorWindow& operator=(const SimulatorWindow&) = delete;

  // The drawn desktop, and where a global point of the simulated Mac lies on it.
  QWidget* desktop() const;
  QPointF desktopPoint(GlobalPoint point) const;
  // The menu shown for the program's last opened menu, while it is open.
  QMenu* openMenu() const;

 private:
  class DesktopView;
  bool apply(const ScenarioEvent& event);
  QWidget* makeSidePanel();
  void presentMenu(const Menu& menu);
  std::string chosenApp() const;

  Dependencies deps_;
  DesktopView* desktop_ = nullptr;
  QComboBox* apps_ = nullptr;
  QLineEdit* badge_ = nullptr;
  QTimer* repaint_ = nullptr;
  std::unique_ptr<QMenu> menu_;
};

}  // namespace lumarin::sim
