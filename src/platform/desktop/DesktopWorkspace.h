#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Workspace.h"
#include "platform/desktop/DesktopEntries.h"

namespace lumarin {

// The workspace of a freedesktop desktop: apps are desktop entries, identified by their
// desktop file ID ("org.example.Chat.desktop", the form of the launcher's application URIs),
// and their URL is the entry file's ("file:///usr/share/applications/org.example.Chat.desktop").
//
// Running: an app runs while a process of this user runs its entry's program: the process's
// executable is the program `Exec` (or `TryExec`) names, found through PATH, or its first
// argument (after an interpreter such as python3 or sh) has the program's file name. The
// process table is read when asked; nothing is polled. There are no launch or quit
// notifications (their subscriptions never fire): the badges follow the senders on the bus.
//
// Opening: entries with `DBusActivatable` get `org.freedesktop.Application.Activate` (the app
// starts or raises itself); the others run their `Exec`, also when running: apps that keep
// one instance raise their window when started again.
//
// Queries are callable from any thread.
class DesktopWorkspace final : public Workspace {
 public:
  struct Options {
    std::vector<std::filesystem::path> applicationDirs;
    std::vector<std::string> locales;  // as localeKeys gives them
    std::filesystem::path proc = "/proc";
  };
  // This process's environment: XDG_DATA_HOME, XDG_DATA_DIRS, LC_ALL, LC_MESSAGES, LANG.
  static Options optionsFromEnvironment();

  explicit DesktopWorkspace(Options options = optionsFromEnvironment());
  DesktopWorkspace(const DesktopWorkspace&) = delete;
  DesktopWorkspace& operator=(const DesktopWorkspace&) = delete;

  // Every entry by ID (re-read when an applications folder changed).
  std::vector<DesktopEntry> entries() const;
  // The apps a user could pick, sorted by name: entries without `NoDisplay`.
  std::vector<DesktopEntry> installedApplications() const;
  std::optional<DesktopEntry> entry(const std::string& id) const;
  const Options& options() const { return options_; }

  std::vector<RunningApplication> runningApplications() const override;
  std::optional<std::string> urlForApplication(const std::string& id) const override;
  std::optional<BundleDescription> bundleAtURL(const std::string& url) const override;
  Image iconForFile(const std::string& url) const override;
  bool openApplication(const std::string& url) override;
  bool activate(int pid) override;
  bool openURL(const std::string& url) override;
  bool accessibilityDisplayShouldReduceMotion() const override { return false; }
  Subscription observeLaunches(std::function<void(const RunningApplication&)> handler) override;
  Subscription observeTerminations(std::function<void(const RunningApplication&)> handler) override;

 private:
  std::optional<DesktopEntry> entryAtURL(const std::string& url) const;
  bool launch(const DesktopEntry& entry);

  Options options_;
  mutable std::mutex mutex_;
  mutable std::vector<DesktopEntry> entries_;
  mutable std::vector<std::filesystem::file_time_type> stamps_;
  mutable bool loaded_ = false;
};

}  // namespace lumarin
