#include "root/PlatformAssembly.h"

#include <sys/utsname.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <cstdlib>
#include <thread>

#include "app/EntryPoint.h"
#include "app/SingleInstanceGuard.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "platform/host/CrashCatcher.h"
#include "platform/host/CurlHttpClient.h"
#include "platform/host/DBusDistributedNotifications.h"
#include "platform/host/FlockInstanceLock.h"
#include "platform/host/HostBundle.h"
#include "platform/host/HostClock.h"
#include "platform/host/HostPaths.h"
#include "platform/host/HostProcessInfo.h"
#include "platform/host/HostScheduler.h"
#include "platform/host/HostSecretStore.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/host/LocalURLChannel.h"
#include "platform/host/QtFrameworkLocalization.h"
#include "platform/host/QtRunLoop.h"
#include "platform/host/StderrSystemLog.h"
#include "platform/host/XdgLoginItems.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimSecretStore.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimulatedMac.h"
#include "platform/sim/Timeline.h"
#include "platform/sim/VirtualRunLoop.h"

namespace lumarin {

namespace {

bool hasDisplay(const ProcessInfo& process) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    if (auto value = process.environmentValue(name); value && !value->empty()) {
      return true;
    }
  }
  return false;
}

std::string machineArchitecture() {
  struct utsname name {};
  return ::uname(&name) == 0 ? std::string(name.machine) : std::string("unknown");
}

}  // namespace

struct PlatformAssembly::Host {
  explicit Host(const Options& options)
      : paths(process),
        virtualScheduler(options.virtualTime
                             // Virtual time starts at the real calendar time, so the debug
                             // log's stamps stay sensible.
                             ? std::make_unique<ManualScheduler>(
                                   std::chrono::floor<std::chrono::seconds>(hostClock.wallNow()))
                             : nullptr),
        bundleID(EntryPoint::readStartupInfo(bundle).bundleID),
        fileDefaults(paths.configurationDirectory() / bundleID / "defaults.json", process,
                     systemLog),
        debugLog(DebugLog::directoryFor(paths.applicationSupportDirectory(), bundleID), clock()),
        guard(instanceLock, paths, process),
        // Started at login in the mode it runs in: desktop mode starts desktop mode.
        loginItems(
            paths.configurationDirectory() / "autostart", bundle.executablePath(),
            options.desktop ? std::vector<std::string>{"--desktop"} : std::vector<std::string>{}),
        secrets("com.kestova.Lumarin",
                paths.applicationSupportDirectory() / bundleID / "secrets.json", true,
                [this](std::string_view line) { debugLog.log(line); }),
        crashCatcher(
            DebugLog::directoryFor(paths.applicationSupportDirectory(), bundleID) / "Crashes",
            process.operatingSystemVersionString(), machineArchitecture()) {}

  // Empty when no private directory could be had.
  std::filesystem::path urlSocket() const {
    const auto dir = paths.privateDirectory();
    return dir.empty() ? dir : LocalURLChannel::socketPath(dir, bundleID, process.userIdentifier());
  }

  const Clock& clock() const {
    return virtualScheduler ? virtualScheduler->clock() : static_cast<const Clock&>(hostClock);
  }

  HostProcessInfo process;
  HostBundle bundle;
  HostPaths paths;
  StderrSystemLog systemLog;
  HostClock hostClock;
  std::unique_ptr<ManualScheduler> virtualScheduler;
  std::string bundleID;
  JsonFileUserDefaults fileDefaults;
  SimUserDefaults scenarioDefaults;
  DebugLog debugLog;
  FrameworkLanguage frameworkLanguage;
  FlockInstanceLock instanceLock;
  SingleInstanceGuard guard;
  XdgLoginItems loginItems;
  // The web service is reached for real, from the simulated Mac as from this machine.
  CurlHttpClient http;
  HostSecretStore secrets;
  SimSecretStore scenarioSecrets;
  std::unique_ptr<QApplication> application;
  std::unique_ptr<QtFrameworkLocalization> frameworkLocalization;
  std::unique_ptr<HostScheduler> hostScheduler;
  std::unique_ptr<RunLoop> runLoop;
  std::unique_ptr<sim::SimulatedMac> mac;
  std::unique_ptr<DBusDistributedNotifications> sessionBus;
  LocalURLChannel urlChannel;
  std::unique_ptr<sim::Timeline> timeline;
  // This machine collects the program's crashes for the next launch.
  CrashCatcher crashCatcher;
};

PlatformAssembly::PlatformAssembly(const Options& options, const sim::Scenario& scenario)
    : options_(options), scenario_(scenario), host_(std::make_unique<Host>(options)) {
  Host& h = *host_;
  // The program's defaults domain: the user's settings file, or, when the scenario brings
  // settings of its own, a private in-memory domain that leaves the user's file alone.
  if (scenario.defaults) {
    for (const auto& [key, value] : *scenario.defaults) {
      h.scenarioDefaults.set(key, value);
    }
    h.scenarioDefaults.setGlobal("AppleLanguages",
                                 scenario.appleLanguages.empty()
                                     ? JsonFileUserDefaults::languagesFromEnvironment(h.process)
                                     : scenario.appleLanguages);
    platform_.defaults = &h.scenarioDefaults;
    // A scenario with settings of its own keeps its account in memory too.
    platform_.secrets = &h.scenarioSecrets;
  } else {
    if (!scenario.appleLanguages.empty()) {
      // On the simulated Mac the system's preferred languages are the scenario's.
      h.fileDefaults.setGlobalLanguages(scenario.appleLanguages);
    }
    platform_.defaults = &h.fileDefaults;
    platform_.secrets = &h.secrets;
  }
  platform_.http = &h.http;
  platform_.clock = &h.clock();
  platform_.bundle = &h.bundle;
  platform_.processInfo = &h.process;
  platform_.paths = &h.paths;
  platform_.systemLog = &h.systemLog;
  h.systemLog.setClock(&h.clock());
  platform_.instanceLock = &h.instanceLock;
  platform_.loginItems = &h.loginItems;
}

PlatformAssembly::~PlatformAssembly() = default;

StartOutcome PlatformAssembly::runEntryPoint() {
  Host& h = *host_;
  EntryPoint entry(*platform_.defaults, h.frameworkLanguage, h.bundle, h.process, h.guard,
                   h.debugLog);
  const StartOutcome outcome = entry.start();
  if (outcome == StartOutcome::lockRefused) {
    h.systemLog.log("Lumarin: cannot start: " + h.guard.refusal());
  }
  return outcome;
}

void PlatformAssembly::startApplication(int& argc, char** argv) {
  Host& h = *host_;
  // Step 6: the application object, an accessory without windows of its own.
  if (options_.headless || !hasDisplay(h.process)) {
    if (!options_.headless) {
      h.systemLog.log("Lumarin: no display found; running headless");
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  Scheduler* scheduler = startQt(argc, argv);

  // The simulated Mac, laid out from the scenario; its calls cost virtual time, or real time.
  h.mac = std::make_unique<sim::SimulatedMac>(*scheduler, *platform_.defaults);
  sim::World& world = h.mac->world;
  world.setClock(&h.clock());
  if (h.virtualScheduler) {
    ManualScheduler* virtualScheduler = h.virtualScheduler.get();
    world.setTimeSink([virtualScheduler](Duration d) { virtualScheduler->elapse(d); });
  } else {
    // The cost of a call is the world's time too: it takes less real time in a faster world.
    const HostClock* clock = &h.hostClock;
    world.setTimeSink([clock](Duration d) { std::this_thread::sleep_for(clock->realSpan(d)); });
  }
  world.setProgramProcess(h.process.processIdentifier(), "Lumarin");
  h.mac->build(scenario_);
  h.mac->provide(platform_);
  h.mac->diagnostics.setUpstream(&h.crashCatcher);
  h.mac->browser.setHttpClient(platform_.http);
  // With a session bus, other processes of the user see the program's notifications (the HUD
  // layout) and it sees theirs, besides the simulated neighbours'.
  if (h.process.environmentValue("DBUS_SESSION_BUS_ADDRESS")) {
    h.sessionBus = std::make_unique<DBusDistributedNotifications>(h.mac->notifications, *scheduler);
    if (h.sessionBus->connected()) {
      platform_.notifications = h.sessionBus.get();
    }
  }
  h.mac->appShell.setTerminationHandler([this] { host_->runLoop->stop(); });
  h.mac->appShell.setActivationPolicy(ActivationPolicy::accessory);
  // Links of the program's scheme opened while it runs arrive from the desktop's URL handler
  // (`lumarin --open-url`) as the system's get-URL events. Virtual time runs no event loop.
  if (!h.virtualScheduler) {
    SimAppShell* shell = &h.mac->appShell;
    if (!h.urlChannel.listen(
            h.urlSocket(), [shell](const std::string& url) { return shell->deliverGetURL(url); })) {
      h.systemLog.log("Lumarin: cannot listen for links at " + h.urlSocket().string());
    }
  }
  h.timeline = std::make_unique<sim::Timeline>(scenario_, world, *scheduler, h.mac->interaction());
}

Scheduler* PlatformAssembly::startQt(int& argc, char** argv) {
  Host& h = *host_;
  h.application = std::make_unique<QApplication>(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName("Lumarin");
  // The frameworks' own texts follow the language the entry point chose.
  h.frameworkLocalization = std::make_unique<QtFrameworkLocalization>();
  h.frameworkLocalization->useLanguage(h.frameworkLanguage.code());

  Scheduler* scheduler = nullptr;
  if (h.virtualScheduler) {
    scheduler = h.virtualScheduler.get();
    // The web service answers from real threads.
    h.virtualScheduler->setWaitsForOtherThreads(true);
    h.runLoop = std::make_unique<VirtualRunLoop>(*h.virtualScheduler);
  } else {
    h.hostScheduler = std::make_unique<HostScheduler>(h.hostClock);
    scheduler = h.hostScheduler.get();
    h.runLoop = std::make_unique<QtRunLoop>();
  }
  platform_.scheduler = scheduler;
  h.crashCatcher.setDeliveryQueue(scheduler->globalQueue(QoS::utility));
  h.crashCatcher.setLog([&h](const std::string& line) { h.debugLog.log(line); });
  return scheduler;
}

Status PlatformAssembly::startDesktopApplication(int& argc, char** argv,
                                                 std::function<bool(const std::string&)> links) {
  Host& h = *host_;
  // The display the environment names, falling back to none so that Qt reports a display it
  // cannot open to us instead of aborting.
  if (!h.process.environmentValue("QT_QPA_PLATFORM")) {
    const bool wayland = h.process.environmentValue("WAYLAND_DISPLAY").has_value();
    ::setenv("QT_QPA_PLATFORM", wayland ? "wayland;xcb;offscreen" : "xcb;offscreen", 1);
  }
  (void)startQt(argc, argv);
  if (QGuiApplication::platformName() == QStringLiteral("offscreen")) {
    return Error{"--desktop cannot open the display " +
                     h.process.environmentValue("DISPLAY").value_or(
                         h.process.environmentValue("WAYLAND_DISPLAY").value_or("")),
                 1};
  }
  if (!QDBusConnection::sessionBus().isConnected()) {
    return Error{"--desktop cannot reach the session bus: " +
                     QDBusConnection::sessionBus().lastError().message().toStdString(),
                 1};
  }
  platform_.diagnostics = &h.crashCatcher;
  if (!h.urlChannel.listen(h.urlSocket(), std::move(links))) {
    h.systemLog.log("Lumarin: cannot listen for links at " + h.urlSocket().string());
  }
  return success();
}

void PlatformAssembly::catchCrashes() { host_->crashCatcher.install(); }

bool PlatformAssembly::forwardURL(const std::string& url) {
  return LocalURLChannel::send(host_->urlSocket(), url);
}

const DebugLog& PlatformAssembly::debugLog() const { return host_->debugLog; }
FrameworkLanguage& PlatformAssembly::frameworkLanguage() { return host_->frameworkLanguage; }
QtFrameworkLocalization& PlatformAssembly::frameworkLocalization() {
  return *host_->frameworkLocalization;
}
sim::SimulatedMac& PlatformAssembly::mac() { return *host_->mac; }
sim::Timeline& PlatformAssembly::timeline() { return *host_->timeline; }
RunLoop& PlatformAssembly::runLoop() { return *host_->runLoop; }

void PlatformAssembly::setTimeRate(double rate) {
  Host& h = *host_;
  if (h.virtualScheduler) {
    return;
  }
  if (h.hostScheduler) {
    h.hostScheduler->setTimeRate(rate);
  } else {
    h.hostClock.setRate(rate);
  }
}

double PlatformAssembly::timeRate() const {
  return host_->virtualScheduler ? 1.0 : host_->hostClock.rate();
}

}  // namespace lumarin
