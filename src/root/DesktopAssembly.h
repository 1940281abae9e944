#pragma once

#include <memory>

#include "app/CommandLine.h"

namespace lumarin {

class AppDelegate;
class PlatformAssembly;

// The program on this machine's freedesktop desktop (`--desktop`): the same application layer
// as on the simulated Mac, on the desktop's ports (tray items, the launcher protocol's badges,
// desktop entries, Qt's screens and dialogs) and this machine's real services. What the Mac
// has and the desktop has not (the accessibility and screen-recording permissions, Control
// Center, the menu bar HUD, global shortcuts) is absent, and the application layer hides it.
//
// Also what a run leaves behind, as on the simulated Mac: the report (real seconds since the
// start), the pictures and the story.
class DesktopAssembly {
 public:
  // `host` has started its desktop application (`PlatformAssembly::startDesktopApplication`).
  DesktopAssembly(PlatformAssembly& host, const Options& options);
  ~DesktopAssembly();
  DesktopAssembly(const DesktopAssembly&) = delete;
  DesktopAssembly& operator=(const DesktopAssembly&) = delete;

  // Takes a link of the program's scheme (from the desktop's URL handler). Main queue.
  bool deliverLink(const std::string& url);
  // Posts the end of launching (and the end of the run, if asked).
  void launch();
  // After the run loop returned: the delegate's last line, the tray items taken down, the
  // report, the pictures and the story. The process's exit status.
  int finish();

  AppDelegate& delegate();

 private:
  struct Parts;
  PlatformAssembly& host_;
  const Options& options_;
  std::unique_ptr<Parts> parts_;
};

}  // namespace lumarin
