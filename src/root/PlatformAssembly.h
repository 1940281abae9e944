#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/EntryPoint.h"
#include "base/Result.h"
#include "platform/Platform.h"

class QApplication;

namespace lumarin {

class DebugLog;
class FrameworkLanguage;
class JsonFileUserDefaults;
class QtFrameworkLocalization;
class RunLoop;

namespace sim {
struct Scenario;
struct SimulatedMac;
class Timeline;
}  // namespace sim

// The platform of one run: this machine's adapters for what it really has (files, locks,
// threads, clocks, the Qt application) and the simulated Mac for the rest. Built in the entry
// point's order: the basics and the debug log first, the application object and the event
// loop only once this process holds the instance lock.
class PlatformAssembly {
 public:
  PlatformAssembly(const Options& options, const sim::Scenario& scenario);
  ~PlatformAssembly();
  PlatformAssembly(const PlatformAssembly&) = delete;
  PlatformAssembly& operator=(const PlatformAssembly&) = delete;

  // The entry point: language bootstrap, instance lock, start line. False for a duplicate.
  StartOutcome runEntryPoint();
  // The application object, the scheduler and run loop, and the simulated Mac with its
  // timeline. `argc` and `argv` must outlive the assembly (Qt keeps them).
  void startApplication(int& argc, char** argv);
  // For the desktop (`--desktop`) instead: the application object, the scheduler and run loop
  // on the real display, and the channel that links of the program's scheme arrive on
  // (`links` takes each on the main queue). The desktop's ports are the caller's to make. An
  // error, in words, when the display cannot be opened or the session bus reached.
  Status startDesktopApplication(int& argc, char** argv,
                                 std::function<bool(const std::string&)> links);
  // From here on a crash of this process is recorded and reported at the next launch.
  void catchCrashes();
  // A second process started with a link hands it to the running instance; false when none
  // took it.
  bool forwardURL(const std::string& url);

  const Platform& platform() const { return platform_; }
  const DebugLog& debugLog() const;
  FrameworkLanguage& frameworkLanguage();
  QtFrameworkLocalization& frameworkLocalization();
  sim::SimulatedMac& mac();
  sim::Timeline& timeline();
  RunLoop& runLoop();
  // How fast the world's time runs against real time: tasks' delays and both clocks follow
  // it from the moment it is set. Real-time runs only; a virtual-time run keeps its own pace
  // and ignores it.
  void setTimeRate(double rate);
  double timeRate() const;
  const sim::Scenario& scenario() const { return scenario_; }

 private:
  Scheduler* startQt(int& argc, char** argv);

  struct Host;
  const Options& options_;
  const sim::Scenario& scenario_;
  std::unique_ptr<Host> host_;
  Platform platform_;
};

}  // namespace lumarin
