#pragma once

namespace lumarin {

class AppShell;
class Bundle;
class Clock;
class InstanceLock;
class Paths;
class ProcessInfo;
class Scheduler;
class SystemLog;
class UserDefaults;

// Every OS service the program uses, as ports. The composition root fills it with host
// adapters for what this machine really has and simulated-Mac adapters for the rest; the
// aggregate does not own them.
struct Platform {
  Scheduler* scheduler = nullptr;
  const Clock* clock = nullptr;
  Bundle* bundle = nullptr;
  ProcessInfo* processInfo = nullptr;
  Paths* paths = nullptr;
  SystemLog* systemLog = nullptr;
  UserDefaults* defaults = nullptr;
  InstanceLock* instanceLock = nullptr;
  AppShell* appShell = nullptr;
};

}  // namespace lumarin
