// Composition root: builds the platform (host adapters for what this machine has, the
// simulated Mac for the rest), runs the entry point's steps and the application's loop.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/EntryPoint.h"
#include "app/SingleInstanceGuard.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "platform/host/FlockInstanceLock.h"
#include "platform/host/HostBundle.h"
#include "platform/host/HostClock.h"
#include "platform/host/HostPaths.h"
#include "platform/host/HostProcessInfo.h"
#include "platform/host/HostScheduler.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/host/QtRunLoop.h"
#include "platform/host/StderrSystemLog.h"
#include "platform/host/TerminationSignals.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimAppShell.h"
#include "platform/sim/VirtualRunLoop.h"

namespace {

using namespace lumarin;

bool hasDisplay(const ProcessInfo& process) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    if (auto value = process.environmentValue(name); value && !value->empty()) {
      return true;
    }
  }
  return false;
}

int run(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  auto parsed = parseCommandLine(arguments);
  if (!parsed) {
    std::fprintf(stderr, "lumarin: %s\n%s", parsed.error().message.c_str(), usage().c_str());
    return 2;
  }
  const Options options = *parsed;
  if (options.help) {
    std::fputs(usage().c_str(), stdout);
    return 0;
  }

  HostProcessInfo process;
  HostBundle bundle;
  HostPaths paths(process);
  StderrSystemLog systemLog;
  HostClock hostClock;
  // Virtual time starts at the real calendar time, so the debug log's stamps stay sensible.
  std::unique_ptr<ManualScheduler> virtualScheduler;
  if (options.virtualTime) {
    virtualScheduler = std::make_unique<ManualScheduler>(
        std::chrono::floor<std::chrono::seconds>(hostClock.wallNow()));
  }
  const Clock& clock = virtualScheduler ? virtualScheduler->clock()
                                        : static_cast<const Clock&>(hostClock);

  const std::string bundleID = EntryPoint::readStartupInfo(bundle).bundleID;
  JsonFileUserDefaults defaults(paths.configurationDirectory() / bundleID / "defaults.json",
                                process, systemLog);
  const DebugLog debugLog(DebugLog::directoryFor(paths.applicationSupportDirectory(), bundleID),
                          clock);
  FrameworkLanguage frameworkLanguage;
  FlockInstanceLock instanceLock;
  SingleInstanceGuard guard(instanceLock, paths, process);
  EntryPoint entry(defaults, frameworkLanguage, bundle, process, guard, debugLog);
  if (!entry.start()) {
    return 0;
  }

  // Step 6: the application object, an accessory without windows of its own.
  if (options.headless || !hasDisplay(process)) {
    if (!options.headless) {
      systemLog.log("Lumarin: no display found; running headless");
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName("Lumarin");

  std::unique_ptr<HostScheduler> hostScheduler;
  std::unique_ptr<RunLoop> runLoop;
  Scheduler* scheduler = nullptr;
  if (virtualScheduler) {
    scheduler = virtualScheduler.get();
    runLoop = std::make_unique<VirtualRunLoop>(*virtualScheduler);
  } else {
    hostScheduler = std::make_unique<HostScheduler>(hostClock);
    scheduler = hostScheduler.get();
    runLoop = std::make_unique<QtRunLoop>();
  }

  SimAppShell appShell;
  Platform platform;
  platform.scheduler = scheduler;
  platform.clock = &clock;
  platform.bundle = &bundle;
  platform.processInfo = &process;
  platform.paths = &paths;
  platform.systemLog = &systemLog;
  platform.defaults = &defaults;
  platform.instanceLock = &instanceLock;
  platform.appShell = &appShell;

  auto delegate = std::make_shared<AppDelegate>(platform, debugLog);
  appShell.setActivationPolicy(ActivationPolicy::accessory);

  TerminationSignals terminationSignals([&runLoop](int) { runLoop->stop(); });
  scheduler->mainQueue().post([delegate] { delegate->applicationDidFinishLaunching(); });
  if (options.runFor) {
    scheduler->mainQueue().postAfter(seconds(*options.runFor), [&runLoop] { runLoop->stop(); });
  }
  runLoop->run();
  delegate->applicationWillTerminate();
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
