#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "platform/Scheduler.h"

class QWidget;

namespace lumarin {

class AppSettings;
class CloudSync;
class TesterMode;

// What happened to the program's ordinary windows in a run, for the report: each opening and
// closing with the window's frame, each tab shown, and each control a scenario used with the
// settings it changed. Main thread.
class WindowHistory {
 public:
  struct SettingsSources {
    const AppSettings& settings;
    const CloudSync* sync = nullptr;
    const TesterMode* tester = nullptr;
  };

  WindowHistory(const Clock& clock, SettingsSources sources, bool recording = true);

  void windowOpened(const std::string& window, const CocoaRect& frame);
  void windowClosed(const std::string& window, const CocoaRect& frame);
  void tabShown(const std::string& window, const std::string& tab);
  // A control used by name: `value` is what it shows afterwards; `before` is settingsJson()
  // from before the use, compared with now.
  void controlUsed(const std::string& window, const std::string& control, const std::string& value,
                   const std::string& before);

  // The stored settings a window can change, as a JSON object (stable across runs: apps are
  // listed by bundle identifier, not by their random identifiers).
  std::string settingsJson() const;
  std::string toJson() const;

 private:
  struct Entry {
    double at;
    std::string json;  // the entry without "at"
  };
  double now() const;
  void add(std::string json);

  const Clock& clock_;
  SettingsSources sources_;
  Duration start_;
  bool recording_;
  std::vector<Entry> entries_;
};

}  // namespace lumarin
