#pragma once

namespace lumarin {

class Accessibility;
class AppShell;
class Bundle;
class Clock;
class DiagnosticManager;
class DistributedNotifications;
class Events;
class HotKeys;
class HttpClient;
class InstanceLock;
class LoginItems;
class Panels;
class Paths;
class ProcessInfo;
class ScreenCapture;
class SecretStore;
class Screens;
class Scheduler;
class StatusBar;
class SystemLog;
class UserDefaults;
class WindowServer;
class Windows;
class Workspace;

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
  LoginItems* loginItems = nullptr;
  AppShell* appShell = nullptr;
  Accessibility* accessibility = nullptr;
  Workspace* workspace = nullptr;
  WindowServer* windowServer = nullptr;
  Screens* screens = nullptr;
  ScreenCapture* screenCapture = nullptr;
  StatusBar* statusBar = nullptr;
  Events* events = nullptr;
  HotKeys* hotKeys = nullptr;
  HttpClient* http = nullptr;
  SecretStore* secrets = nullptr;
  Panels* panels = nullptr;
  DistributedNotifications* notifications = nullptr;
  Windows* windows = nullptr;
  DiagnosticManager* diagnostics = nullptr;
};

}  // namespace lumarin
