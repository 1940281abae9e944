// The desktop's workspace against real files and real processes: running apps are told from
// the process table, opening an app runs its Exec line.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QProcess>
#include <fstream>

#include "platform/desktop/DesktopWorkspace.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs = 20000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

class DesktopWorkspaceTest : public ::testing::Test {
 protected:
  void entry(const std::string& id, const std::string& body) {
    std::filesystem::create_directories(apps_);
    std::ofstream(apps_ / id) << "[Desktop Entry]\nType=Application\n" << body;
  }

  DesktopWorkspace workspace() {
    DesktopWorkspace::Options options;
    options.applicationDirs = {apps_};
    return DesktopWorkspace(options);
  }

  bool runs(const DesktopWorkspace& workspace, const std::string& id, int pid) {
    for (const auto& app : workspace.runningApplications()) {
      if (app.bundleIdentifier == id && (pid == 0 || app.pid == pid)) {
        return true;
      }
    }
    return false;
  }

  test::TempDir root_;
  std::filesystem::path apps_ = root_ / "applications";
};

TEST_F(DesktopWorkspaceTest, AnAppRunsWhileAProcessRunsItsProgram) {
  // A program found through PATH, told by the process's executable.
  entry("org.example.Sleep.desktop", "Name=Sleep\nExec=sleep 300 %U\n");
  // A script, told by its interpreter's argument; its file name is the test's own, so no
  // other process of the machine looks like it.
  const auto script = root_ / "lumarin-test-script.py";
  std::ofstream(script) << "import time\ntime.sleep(300)\n";
  entry("org.example.Script.desktop", "Name=Script\nExec=python3 " + script.string() + "\n");
  const DesktopWorkspace desktop = workspace();
  EXPECT_FALSE(runs(desktop, "org.example.Script.desktop", 0));

  QProcess sleeper;
  sleeper.start(QStringLiteral("sleep"), {QStringLiteral("300")});
  ASSERT_TRUE(sleeper.waitForStarted(10000));
  QProcess python;
  python.start(QStringLiteral("python3"), {QString::fromStdString(script.string())});
  ASSERT_TRUE(python.waitForStarted(10000));
  EXPECT_TRUE(waitFor([&] { return runs(desktop, "org.example.Sleep.desktop", 0); }));
  ASSERT_TRUE(waitFor([&] { return runs(desktop, "org.example.Script.desktop", 0); }));
  for (const auto& app : desktop.runningApplications()) {
    if (app.bundleIdentifier == "org.example.Script.desktop") {
      EXPECT_EQ(app.localizedName, "Script");
      EXPECT_EQ(app.pid, python.processId());
      EXPECT_EQ(app.bundleURL, "file://" + (apps_ / "org.example.Script.desktop").string());
    }
  }
  python.kill();
  python.waitForFinished(5000);
  EXPECT_TRUE(waitFor([&] { return !runs(desktop, "org.example.Script.desktop", 0); }));
  sleeper.kill();
  sleeper.waitForFinished(5000);
}

TEST_F(DesktopWorkspaceTest, OpeningAnAppRunsItsExecLine) {
  const auto marker = root_ / "launched";
  entry("org.example.Touch.desktop",
        "Name=Touch\nExec=/usr/bin/touch " + marker.string() + " %U\nIcon=nothing-such\n");
  entry("org.example.Broken.desktop", "Name=Broken\nExec=\"unterminated\n");
  DesktopWorkspace desktop = workspace();
  const auto url = desktop.urlForApplication("org.example.Touch.desktop");
  ASSERT_TRUE(url);
  EXPECT_TRUE(desktop.openApplication(*url));
  EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(marker); }));
  EXPECT_FALSE(desktop.openApplication(*desktop.urlForApplication("org.example.Broken.desktop")));
  EXPECT_FALSE(desktop.openApplication("file:///nowhere/x.desktop"));
  EXPECT_FALSE(desktop.urlForApplication("org.example.Missing.desktop"));
}

TEST_F(DesktopWorkspaceTest, PickedFilesAndIconsComeFromTheEntries) {
  QImage red(48, 48, QImage::Format_ARGB32);
  red.fill(Qt::red);
  ASSERT_TRUE(red.save(QString::fromStdString((root_ / "red.png").string())));
  entry("org.example.Red.desktop",
        "Name=Red\nName[de]=Rot\nExec=red\nIcon=" + (root_ / "red.png").string() + "\n");
  entry("org.example.Plain.desktop", "Name=Plain\nExec=plain\nNoDisplay=true\n");
  DesktopWorkspace::Options options;
  options.applicationDirs = {apps_};
  options.locales = localeKeys("de_DE.UTF-8");
  DesktopWorkspace desktop(options);

  const auto bundle = desktop.bundleAtURL("file://" + (apps_ / "org.example.Red.desktop").string());
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->bundleIdentifier, "org.example.Red.desktop");
  EXPECT_EQ(bundle->name, "Rot");
  EXPECT_FALSE(desktop.bundleAtURL("file://" + (root_ / "red.png").string()));

  const Image icon = desktop.iconForFile(*desktop.urlForApplication("org.example.Red.desktop"));
  ASSERT_FALSE(icon.isEmpty());
  EXPECT_EQ(icon.pointSize.width, 32);
  const auto middle = icon.pixel(icon.pixelWidth / 2, icon.pixelHeight / 2);
  EXPECT_EQ(middle.r, 255);
  EXPECT_EQ(middle.a, 255);
  // Every file has an icon, also one with none of its own.
  EXPECT_FALSE(desktop.iconForFile("file:///nowhere/x.desktop").isEmpty());

  // "Add App" leaves out what asks not to be shown.
  const auto installed = desktop.installedApplications();
  ASSERT_EQ(installed.size(), 1u);
  EXPECT_EQ(installed.front().id, "org.example.Red.desktop");
  EXPECT_EQ(desktop.entries().size(), 2u);

  // An icon no theme has is drawn rather than left blank: a dimmed item must not vanish.
  entry("org.example.Odd.desktop", "Name=Odd\nExec=odd\nIcon=org.example.no-such-icon\n");
  const auto odd = desktop.urlForApplication("org.example.Odd.desktop");
  ASSERT_TRUE(odd);
  const Image drawn = desktop.iconForFile(*odd);
  ASSERT_FALSE(drawn.isEmpty());
  int opaque = 0;
  for (int y = 0; y < drawn.pixelHeight; ++y) {
    for (int x = 0; x < drawn.pixelWidth; ++x) {
      opaque += drawn.pixel(x, y).a == 255 ? 1 : 0;
    }
  }
  EXPECT_GT(opaque, drawn.pixelWidth * drawn.pixelHeight / 2);
}

}  // namespace
}  // namespace lumarin
