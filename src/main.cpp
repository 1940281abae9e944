// Composition root: reads the command line and the scenario, assembles the platform and the
// application, runs the loop and leaves the run's report and pictures behind.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "app/CommandLine.h"
#include "app/EntryPoint.h"
#include "app/QtMessageLog.h"
#include "platform/RunLoop.h"
#include "platform/host/HostBundle.h"
#include "platform/host/TerminationSignals.h"
#include "platform/sim/Scenario.h"
#include "root/ApplicationAssembly.h"
#include "root/DesktopAssembly.h"
#include "root/PlatformAssembly.h"

namespace {

using namespace lumarin;

// Qt's messages so far waited for the debug log; while this lives they go straight to it. It
// goes before the platform that owns the log.
class QtMessagesInLog {
 public:
  explicit QtMessagesInLog(const DebugLog& log) { QtMessageLog::attach(log); }
  ~QtMessagesInLog() { QtMessageLog::detach(); }
  QtMessagesInLog(const QtMessagesInLog&) = delete;
  QtMessagesInLog& operator=(const QtMessagesInLog&) = delete;
};

Result<sim::Scenario> loadScenario(const Options& options) {
  if (!options.scenario) {
    return sim::parseScenario(sim::defaultScenarioText(), "built-in scenario");
  }
  std::ifstream in(*options.scenario, std::ios::binary);
  if (!in) {
    return Error{*options.scenario + ": cannot be read", 2};
  }
  std::stringstream text;
  text << in.rdbuf();
  return sim::parseScenario(text.str(), *options.scenario);
}

bool sessionBusSocketExists() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && *runtime != '\0' &&
         std::filesystem::exists(std::filesystem::path(runtime) / "bus");
}

bool hasEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// The entry point's answer as the process's: none when this process goes on as the instance,
// else its exit status (1 for a refused lock; for another instance running, 0 once the link,
// if any, went to it, as the system sends it the get-URL event).
std::optional<int> statusUnlessStarted(PlatformAssembly& platform, const Options& options) {
  const StartOutcome start = platform.runEntryPoint();
  if (start == StartOutcome::lockRefused) {
    return 1;
  }
  if (start == StartOutcome::duplicate) {
    if (options.openURL && !platform.forwardURL(*options.openURL)) {
      std::fprintf(stderr, "lumarin: the running Lumarin did not take the link\n");
      return 1;
    }
    return 0;
  }
  return std::nullopt;
}

// The program on this machine's desktop. Without a display or a session bus it says which is
// missing, in one line, before Qt could abort over it.
int runDesktop(const Options& options, int argc, char** argv) {
  if (!hasEnvironment("DISPLAY") && !hasEnvironment("WAYLAND_DISPLAY")) {
    std::fprintf(stderr,
                 "lumarin: --desktop needs a display, and neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set\n");
    return 1;
  }
  if (!hasEnvironment("DBUS_SESSION_BUS_ADDRESS") && !sessionBusSocketExists()) {
    std::fprintf(stderr,
                 "lumarin: --desktop needs a session bus, and DBUS_SESSION_BUS_ADDRESS "
                 "is not set\n");
    return 1;
  }
  const sim::Scenario none;
  PlatformAssembly platform(options, none);
  const QtMessagesInLog qtMessages(platform.debugLog());
  if (const auto status = statusUnlessStarted(platform, options)) {
    return *status;
  }
  platform.catchCrashes();
  std::unique_ptr<DesktopAssembly> desktop;
  const auto display =
      platform.startDesktopApplication(argc, argv, [&desktop](const std::string& url) {
        return desktop != nullptr && desktop->deliverLink(url);
      });
  if (!display) {
    std::fprintf(stderr, "lumarin: %s\n", display.error().message.c_str());
    return 1;
  }
  desktop = std::make_unique<DesktopAssembly>(platform, options);
  RunLoop& runLoop = platform.runLoop();
  TerminationSignals terminationSignals([&runLoop](int) { runLoop.stop(); });
  desktop->launch();
  runLoop.run();
  const int status = desktop->finish();
  std::fflush(nullptr);
  std::exit(status);
}

int run(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  auto parsed = parseCommandLine(arguments);
  if (!parsed) {
    std::fprintf(stderr, "lumarin: %s\n%s", parsed.error().message.c_str(), usage().c_str());
    return 2;
  }
  const Options& options = *parsed;
  if (options.help) {
    std::fputs(usage().c_str(), stdout);
    return 0;
  }
  if (options.desktop && !options.version) {
    return runDesktop(options, argc, argv);
  }
  if (options.version) {
    const HostBundle bundle;
    const auto info = EntryPoint::readStartupInfo(bundle);
    std::printf("Lumarin %s (%s)\n", info.version.c_str(), info.build.c_str());
    return 0;
  }
  auto scenario = loadScenario(options);
  if (!scenario) {
    std::fprintf(stderr, "lumarin: %s\n", scenario.error().message.c_str());
    return 2;
  }

  PlatformAssembly platform(options, *scenario);
  const QtMessagesInLog qtMessages(platform.debugLog());
  if (const auto status = statusUnlessStarted(platform, options)) {
    return *status;
  }
  platform.catchCrashes();
  platform.startApplication(argc, argv);
  ApplicationAssembly application(platform, options);
  RunLoop& runLoop = platform.runLoop();
  TerminationSignals terminationSignals([&runLoop](int) { runLoop.stop(); });
  application.launch();
  runLoop.run();
  const int status = application.finish();
  if (!options.virtualTime) {
    // As the application object does after its delegate heard of the end: the process exits
    // here, without tearing objects down under queue threads that may still be using them
    // (every setting is already stored; the debug log writes through).
    std::fflush(nullptr);
    std::exit(status);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything can make Qt speak: its messages belong in the debug log, not on the
  // terminal.
  QtMessageLog::install();
  return run(argc, argv);
}
