#pragma once

#include <memory>

#include "app/CommandLine.h"

namespace lumarin {

class AppDelegate;
class PlatformAssembly;

// The program's own objects for one run and their connections: menu bar discovery, the
// settings, the languages, the Dock monitor and the application delegate that creates the
// controllers. Also what a run leaves behind: the report and the snapshots.
class ApplicationAssembly {
 public:
  ApplicationAssembly(PlatformAssembly& platform, const Options& options);
  ~ApplicationAssembly();
  ApplicationAssembly(const ApplicationAssembly&) = delete;
  ApplicationAssembly& operator=(const ApplicationAssembly&) = delete;

  // Starts the timeline and posts the end of launching (and the end of the run, if asked).
  void launch();
  // After the run loop returned: the delegate's last line, the report and the snapshots.
  // The process's exit status.
  int finish();

  AppDelegate& delegate();

 private:
  struct Parts;
  PlatformAssembly& platform_;
  const Options& options_;
  std::unique_ptr<Parts> parts_;
};

}  // namespace lumarin
