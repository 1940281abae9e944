// Runs the real program as a user would and checks its exit status and debug log.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "app/SingleInstanceGuard.h"
#include "base/Json.h"
#include "gfx/Drawing.h"
#include "platform/host/FlockInstanceLock.h"
#include "platform/host/LocalURLChannel.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

struct Outcome {
  int exitCode = -1;
  std::string standardError;
  std::string standardOutput;
};

class LumarinProcessTest : public ::testing::Test {
 protected:
  Outcome run(const QStringList& arguments,
              const std::function<void(QProcessEnvironment&)>& adjust = nullptr) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", QString::fromStdString((dir_ / "data").string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
    env.insert("TMPDIR", QString::fromStdString(dir_.path().string()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir_.path().string()));
    if (adjust) {
      adjust(env);
    }
    process.setProcessEnvironment(env);
    process.start(LUMARIN_EXECUTABLE, arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    Outcome outcome;
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.standardError = process.readAllStandardError().toStdString();
    outcome.standardOutput = process.readAllStandardOutput().toStdString();
    return outcome;
  }

  std::string debugLog() const {
    return test::readFile(dir_ / "data" / "com.kestova.Lumarin" / "tester.log");
  }

  test::TempDir dir_;
};

TEST_F(LumarinProcessTest, VirtualRunStartsAndQuitsNormally) {
  const Outcome outcome = run({"--headless", "--virtual-time", "--run-for", "60"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError;
  const std::string log = debugLog();
  EXPECT_NE(log.find(" startup: acquired instance lock pid="), std::string::npos) << log;
  EXPECT_NE(log.find(" version="), std::string::npos);
  EXPECT_NE(log.find(" startup: applicationWillTerminate pid="), std::string::npos) << log;
  // One start line and one stop line; what the scripted user did in between lies between them.
  std::size_t startupLines = 0;
  for (std::size_t at = log.find(" startup: "); at != std::string::npos;
       at = log.find(" startup: ", at + 1)) {
    ++startupLines;
  }
  EXPECT_EQ(startupLines, 2u) << log;
  EXPECT_NE(log.find(" appitem: singleClick com.tinyspeck.slackmacgap ownStatusItem=true"),
            std::string::npos)
      << log;
}

TEST_F(LumarinProcessTest, SecondInstanceOfTheSameUserExitsZeroAtOnce) {
  // This test process plays the running instance by holding the lock.
  FlockInstanceLock running;
  ASSERT_TRUE(running
                  .acquire(dir_ / SingleInstanceGuard::lockFileName(
                                      "com.kestova.Lumarin", static_cast<unsigned>(getuid())))
                  .valueOr(false));
  const Outcome outcome = run({"--headless", "--virtual-time", "--run-for", "60"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError;
  const std::string log = debugLog();
  EXPECT_NE(log.find(" startup: duplicate instance rejected pid="), std::string::npos) << log;
  EXPECT_EQ(log.find("acquired instance lock"), std::string::npos) << log;
  EXPECT_EQ(log.find("applicationWillTerminate"), std::string::npos) << log;
}

TEST_F(LumarinProcessTest, ALockFileThatIsALinkStopsTheStartWithALine) {
  const auto lock = dir_ / SingleInstanceGuard::lockFileName("com.kestova.Lumarin",
                                                             static_cast<unsigned>(getuid()));
  std::filesystem::create_symlink(dir_ / "elsewhere", lock);
  const Outcome outcome = run({"--headless", "--virtual-time", "--run-for", "60"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_NE(outcome.standardError.find("Lumarin: cannot start: the lock file is a symbolic link: " +
                                       lock.string()),
            std::string::npos)
      << outcome.standardError;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "elsewhere"));
  EXPECT_NE(debugLog().find(" startup: instance lock refused pid="), std::string::npos);
}

TEST_F(LumarinProcessTest, BadCommandLinesExitWithStatus2AndUsage) {
  for (const QStringList& args : {QStringList{"--frobnicate"}, QStringList{"--run-for", "x"}}) {
    const Outcome outcome = run(args);
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.standardError.find("usage: lumarin"), std::string::npos);
  }
  // The version is printed without starting anything either.
  const Outcome version = run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.standardOutput.rfind("Lumarin ", 0), 0u) << version.standardOutput;
  // Nothing ran: no lock taken, no log written.
  EXPECT_FALSE(std::filesystem::exists(dir_ / "data" / "com.kestova.Lumarin" / "tester.log"));
}

TEST_F(LumarinProcessTest, MalformedScenarioIsRefusedWithItsPathAndStatus2) {
  const auto file = dir_ / "broken.json";
  test::writeFile(file, R"({"apps": [{"bundleID": "com.apple.mail", "name": 3}]})");
  const Outcome outcome =
      run({"--headless", "--virtual-time", "--scenario", QString::fromStdString(file.string())});
  EXPECT_EQ(outcome.exitCode, 2);
  EXPECT_NE(outcome.standardError.find(file.string() + ": $.apps[0].name: expected a string"),
            std::string::npos)
      << outcome.standardError;
  const Outcome missing =
      run({"--scenario", QString::fromStdString((dir_ / "none.json").string())});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.standardError.find("cannot be read"), std::string::npos);
}

TEST_F(LumarinProcessTest, HeadlessRunOfAScenarioWritesTheSameReportEveryTime) {
  const auto file = dir_ / "mail.json";
  test::writeFile(file, R"({
    "name": "mail",
    "apps": [{"bundleID": "com.apple.mail", "name": "Mail", "running": true}],
    "dock": [{"app": "com.apple.mail", "badge": "3"}],
    "timeline": [{"at": 10, "do": "setBadge", "app": "com.apple.mail", "label": "4"},
                 {"at": 20, "do": "quit", "app": "com.apple.mail"}]})");
  std::vector<std::string> reports;
  for (int i = 0; i < 2; ++i) {
    const auto report = dir_ / ("report" + std::to_string(i) + ".json");
    const Outcome outcome =
        run({"--scenario", QString::fromStdString(file.string()), "--headless", "--virtual-time",
             "--run-for", "30", "--report", QString::fromStdString(report.string())});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.standardError;
    reports.push_back(test::readFile(report));
  }
  EXPECT_EQ(reports[0], reports[1]);
  EXPECT_NE(reports[0].find("\"scenario\": \"mail\""), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("\"duration\": 30.0"), std::string::npos);
  EXPECT_NE(reports[0].find("\"badge\": \"4\""), std::string::npos);
  EXPECT_NE(reports[0].find("\"running\": false"), std::string::npos);
}

// The whole road of a badge and a click: the Dock shows a badge, the app's item shows it in
// the menu bar within a second, and clicks reach the app's own menu bar item or the app.
TEST_F(LumarinProcessTest, BadgeReachesTheMenuBarAndClicksReachTheApp) {
  test::writeFile(dir_ / "road.json", R"({
    "name": "road",
    "apps": [
      {"bundleID": "com.apple.mail", "name": "Mail", "running": true},
      {"bundleID": "com.example.chat", "name": "Chat", "running": true,
       "menuExtras": [{"title": "Chat", "width": 26}]},
      {"bundleID": "com.example.gone", "name": "Gone"}
    ],
    "dock": [{"app": "com.apple.mail"}, {"app": "com.example.chat"}],
    "defaults": {
      "onboardingCompleted": true,
      "monitoredApps": [
        {"id": "6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8", "bundleID": "com.apple.mail",
         "name": "Mail", "visibility": "always"},
        {"id": "0B1C2D3E-4F50-4617-8829-3A4B5C6D7E8F", "bundleID": "com.example.chat",
         "name": "Chat", "visibility": "always"}
      ]
    },
    "timeline": [
      {"at": 2, "do": "setBadge", "app": "com.apple.mail", "label": "7"},
      {"at": 4, "do": "clickStatusItem", "app": "com.apple.mail"},
      {"at": 6, "do": "clickStatusItem", "app": "com.example.chat"},
      {"at": 8, "do": "clickStatusItem", "app": "com.example.gone"},
      {"at": 9, "do": "clickStatusItem", "item": "own"},
      {"at": 10, "do": "chooseMenuItem", "path": ["Add App", "Nothing Like It"]},
      {"at": 11, "do": "closeMenu"}
    ]})");
  const Outcome outcome = run({"--headless", "--virtual-time", "--run-for", "3.1", "--scenario",
                               QString::fromStdString((dir_ / "road.json").string()), "--report",
                               QString::fromStdString((dir_ / "early.json").string()), "--snapshot",
                               QString::fromStdString((dir_ / "shots").string())});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.standardError;
  auto early = json::parse(test::readFile(dir_ / "early.json"));
  ASSERT_TRUE(early);
  // 1.1 seconds after the badge: the item's tooltip and picture carry it.
  const json::Json& mail = (*early)["statusItems"][1];
  EXPECT_EQ(mail["autosaveName"], "lumarin.com.apple.mail");
  EXPECT_EQ(mail["toolTip"], "Mail — 7 notifications");
  ASSERT_TRUE(mail["drawn"].get<bool>());
  const double x = mail["frame"][0].get<double>();
  const double w = mail["frame"][2].get<double>();
  auto bar = readPng(dir_ / "shots" / "menubar.png", 2);
  ASSERT_TRUE(bar) << bar.error().message;
  int red = 0;
  for (int py = 0; py < bar->pixelHeight; ++py) {
    for (int px = static_cast<int>(x * 2); px < static_cast<int>((x + w) * 2); ++px) {
      const auto p = bar->pixel(px, py);
      red += p.r > 200 && p.g < 90 && p.b < 90 ? 1 : 0;
    }
  }
  EXPECT_GT(red, 20) << "no red badge drawn in the item's place";

  const Outcome full = run({"--headless", "--virtual-time", "--run-for", "12", "--scenario",
                            QString::fromStdString((dir_ / "road.json").string()), "--report",
                            QString::fromStdString((dir_ / "full.json").string())});
  ASSERT_EQ(full.exitCode, 0) << full.standardError;
  auto report = json::parse(test::readFile(dir_ / "full.json"));
  ASSERT_TRUE(report);
  // Mail has no menu bar item of its own: it is brought forward. Chat's own item is pressed.
  const json::Json& activations = (*report)["activations"];
  ASSERT_EQ(activations.size(), 1u);
  EXPECT_EQ(activations[0]["app"], "com.apple.mail");
  EXPECT_NEAR(activations[0]["at"].get<double>(), 4.4, 0.1);
  const json::Json& actions = (*report)["accessibility"]["actions"];
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0]["process"], "com.example.chat");
  EXPECT_EQ(actions[0]["action"], "AXPress");
  // A click on an item that is not there and a choice of an absent entry have no effect.
  const json::Json& timeline = (*report)["timeline"];
  EXPECT_EQ(timeline[3]["effect"], "no effect");
  EXPECT_EQ(timeline[4]["effect"], "applied");
  EXPECT_EQ(timeline[5]["effect"], "no effect");
  EXPECT_EQ(timeline[6]["effect"], "applied");
  EXPECT_EQ((*report)["menus"][0]["outcome"], "closed");
}

// The built-in scenario's minute: the HUD's model publishes in both arrangements while an app
// stops answering, and tile clicks reach a hidden item and the program's own item.
TEST_F(LumarinProcessTest, MirrorTilesAndTheirClicksInTheBuiltInScenario) {
  const Outcome outcome = run({"--headless", "--virtual-time", "--run-for", "60", "--report",
                               QString::fromStdString((dir_ / "report.json").string())});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.standardError;
  auto report = json::parse(test::readFile(dir_ / "report.json"));
  ASSERT_TRUE(report);
  std::set<std::string> modes;
  for (const auto& publication : (*report)["mirror"]) {
    modes.insert(publication["mode"].get<std::string>());
    // Every publication has tiles of every kind, the program's own among them.
    std::set<std::string> kinds;
    for (const auto& tile : publication["tiles"]) {
      kinds.insert(tile["kind"].get<std::string>());
    }
    EXPECT_TRUE(kinds.count("item") && kinds.count("own")) << publication.dump();
  }
  EXPECT_EQ(modes, (std::set<std::string>{"per-item-windows", "unified-bar"}));
  // Slack stops answering from 45 s to 57.4 s: the refreshes at 47 s and 57 s still publish.
  const auto& last = (*report)["mirror"].back();
  EXPECT_GT(last["at"].get<double>(), 57);

  const auto& clicks = (*report)["forwardedClicks"];
  ASSERT_EQ(clicks.size(), 5u);
  EXPECT_EQ(clicks[0]["tile"], "own#119");
  EXPECT_EQ(clicks[0]["path"], "ax");
  EXPECT_EQ((*report)["menus"].back()["item"], "Lumarin.ControlItem.Main");
  EXPECT_TRUE(clicks[1]["notchHidden"].get<bool>());
  EXPECT_EQ(clicks[1]["path"], "ax");
  EXPECT_EQ(clicks[3]["path"], "skylight");
  // From the keyboard: "ist" leaves iStat Menus's three tiles, Right moves to the second and
  // Return clicks it, through the same forwarding.
  const auto& keys = (*report)["hud"]["keys"];
  ASSERT_EQ(keys.size(), 3u) << keys.dump();
  EXPECT_EQ(keys[0]["key"], "text");
  EXPECT_EQ(keys[0]["filter"], "ist");
  EXPECT_EQ(keys[0]["visible"], 3);
  EXPECT_EQ(keys[0]["tiles"], (json::Json{"316#2", "316#1", "316#0"}));
  EXPECT_EQ(keys[1]["key"], "right");
  EXPECT_EQ(keys[2]["key"], "return");
  EXPECT_EQ(keys[2]["reachedTitle"], "iStat Menus");
  EXPECT_EQ(clicks[4]["tile"], keys[2]["reached"]);
  EXPECT_TRUE(clicks[4]["ok"].get<bool>());
  std::set<std::string> via;
  for (const auto& menu : (*report)["openedMenus"]) {
    via.insert(menu["via"].get<std::string>());
  }
  EXPECT_EQ(via, (std::set<std::string>{"AXPress", "AXShowMenu", "click"}));
}

// The first-run guide and the settings window used from a scenario, by their controls' names:
// each opening and closing is in the report with the settings the controls changed.
TEST_F(LumarinProcessTest, ScenarioUsesTheWindowsByTheirControlsNames) {
  test::writeFile(dir_ / "first.json", R"({
    "name": "first",
    "accessibility": {"trusted": false},
    "apps": [{"bundleID": "com.apple.mail", "name": "Mail", "running": true}],
    "dock": [{"app": "com.apple.mail"}],
    "timeline": [
      {"at": 3, "do": "pressControl", "control": "Continue"},
      {"at": 4, "do": "pressControl", "control": "Skip for now"},
      {"at": 5, "do": "closeWindow", "window": "onboarding"},
      {"at": 6, "do": "openSettings", "tab": "about"},
      {"at": 7, "do": "pressControl", "control": "Share crash reports"},
      {"at": 8, "do": "pressControl", "control": "No such control"},
      {"at": 9, "do": "closeWindow", "window": "settings"},
      {"at": 10, "do": "closeWindow", "window": "settings"}
    ]})");
  const Outcome outcome = run({"--headless", "--virtual-time", "--run-for", "12", "--scenario",
                               QString::fromStdString((dir_ / "first.json").string()), "--report",
                               QString::fromStdString((dir_ / "first-report.json").string())});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.standardError;
  auto report = json::parse(test::readFile(dir_ / "first-report.json"));
  ASSERT_TRUE(report);
  std::vector<std::string> events;
  for (const auto& entry : (*report)["windows"]) {
    events.push_back(entry["window"].get<std::string>() + " " + entry["event"].get<std::string>());
    if (entry["event"] == "control" && entry["control"] == "Share crash reports") {
      EXPECT_EQ(entry["changed"].size(), 1u) << entry.dump();
      EXPECT_TRUE(entry["changed"].contains("crashReportingEnabled")) << entry.dump();
    }
  }
  EXPECT_EQ(events,
            (std::vector<std::string>{"onboarding opened", "onboarding control",
                                      "onboarding control", "onboarding closed", "settings opened",
                                      "settings tab", "settings control", "settings closed"}));
  std::vector<std::string> effects;
  for (const auto& entry : (*report)["timeline"]) {
    effects.push_back(entry["effect"].get<std::string>());
  }
  EXPECT_EQ(effects, (std::vector<std::string>{"applied", "applied", "applied", "applied",
                                               "applied", "no effect", "applied", "no effect"}));
}

// The narrated run: the story is the same every time and tells each thing of the report.
TEST_F(LumarinProcessTest, TheStoryOfTheBuiltInScenarioTellsWhatTheReportHolds) {
  const QStringList arguments = {"--headless",
                                 "--virtual-time",
                                 "--run-for",
                                 "60",
                                 "--story",
                                 "--report",
                                 QString::fromStdString((dir_ / "report.json").string())};
  const Outcome first = run(arguments);
  ASSERT_EQ(first.exitCode, 0) << first.standardError;
  const Outcome second = run(arguments);
  EXPECT_EQ(first.standardOutput, second.standardOutput);
  auto report = json::parse(test::readFile(dir_ / "report.json"));
  ASSERT_TRUE(report);
  const std::string& story = first.standardOutput;
  auto count = [&story](const std::string& text) {
    std::size_t n = 0;
    for (auto at = story.find(text); at != std::string::npos; at = story.find(text, at + 1)) {
      ++n;
    }
    return n;
  };
  std::size_t shows = 0;
  for (const auto& entry : (*report)["hud"]["shows"]) {
    shows += entry["event"] == "show" ? 1 : 0;
  }
  EXPECT_EQ(count("the HUD opens with "), shows);
  EXPECT_EQ(count("the HUD closes: "), (*report)["hud"]["shows"].size() - shows);
  EXPECT_EQ(count("'s tile opened its menu"), (*report)["forwardedClicks"].size());
  EXPECT_EQ(count(" (the item is behind the notch)"), 3u);
  EXPECT_NE(story.find("0:27.3  the user types 'ist' — 3 of 25 items\n"), std::string::npos);
  EXPECT_NE(story.find("0:27.7  the HUD's Return reaches iStat Menus\n"), std::string::npos);
  EXPECT_NE(story.find("0:05.0  Mail shows 4 in the menu bar\n"), std::string::npos);
  EXPECT_NE(story.find("0:24.7  a click on Dropbox's tile opened its menu\n"), std::string::npos);
  EXPECT_NE(story.find("the HUD closes: Escape\n"), std::string::npos);
  // The settings window, used by name near the end of the run.
  const auto& windows = (*report)["windows"];
  ASSERT_FALSE(windows.empty());
  EXPECT_EQ(count("the settings window opens"), 1u);
  EXPECT_EQ(count("the settings window closes"), 1u);
  EXPECT_NE(story.find("\"Launch at login\" shows on and changes launchAtLogin\n"),
            std::string::npos);
  EXPECT_NE(story.find("\"Notes\" shows Notes and changes monitoredApps\n"), std::string::npos);
  EXPECT_EQ(windows.back()["event"], "closed");
  EXPECT_EQ(windows.back()["frame"].size(), 4u);
  EXPECT_NE(story.find("The whole run: "), std::string::npos);
}

// The narrated run as a newcomer starts it on a fresh machine (no runtime directory set): the
// terminal shows the story and its closing lines, nothing of what Qt says, which goes to the
// debug log instead.
class NarratedRunTest : public LumarinProcessTest {
 protected:
  // As scripts/run.sh starts it: the report's directory exists, the pictures' does not.
  QStringList narratedArguments() const {
    std::filesystem::create_directories(dir_ / "run");
    return {"--virtual-time",
            "--run-for",
            "60",
            "--story",
            "--report",
            QString::fromStdString((dir_ / "run" / "report.json").string()),
            "--snapshot",
            QString::fromStdString((dir_ / "run" / "pictures").string())};
  }

  void expectOnlyTheStory(const Outcome& outcome) {
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.standardError, "");
    const std::regex storyLine(R"(\d+:\d\d\.\d  \S.*)");
    std::istringstream lines(outcome.standardOutput);
    std::string line;
    std::size_t storyLines = 0;
    std::vector<std::string> closing;
    while (std::getline(lines, line)) {
      if (std::regex_match(line, storyLine)) {
        EXPECT_TRUE(closing.empty()) << "story after the closing lines: " << line;
        ++storyLines;
      } else if (!line.empty()) {
        closing.push_back(line);
      }
    }
    EXPECT_GT(storyLines, 20u);
    ASSERT_EQ(closing.size(), 2u) << outcome.standardOutput;
    EXPECT_EQ(closing[0], "The whole run: " + (dir_ / "run" / "report.json").string());
    EXPECT_EQ(closing[1].rfind("What Lumarin drew: " + (dir_ / "run" / "pictures").string(), 0), 0u)
        << closing[1];
    // Qt did speak; its words are in the debug log with their category.
    const std::string log = debugLog();
    EXPECT_NE(log.find(" qt: warning ["), std::string::npos) << log;
  }
};

TEST_F(NarratedRunTest, OnTheOffscreenPlatformTheTerminalShowsOnlyTheStory) {
  QStringList arguments = narratedArguments();
  arguments.prepend("--headless");
  const Outcome outcome = run(arguments, [](QProcessEnvironment& env) {
    env.remove("XDG_RUNTIME_DIR");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
  });
  expectOnlyTheStory(outcome);
  EXPECT_NE(debugLog().find("qt: warning [default] QStandardPaths: XDG_RUNTIME_DIR not set"),
            std::string::npos);
}

TEST_F(NarratedRunTest, OnAnXServerTheTerminalShowsOnlyTheStory) {
  // Xvfb picks a free display and writes its number once it accepts clients: waiting for that
  // line is waiting for the server, without a sleep.
  if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
    GTEST_SKIP() << "no Xvfb on this machine";
  }
  QProcess xvfb;
  xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"});
  ASSERT_TRUE(xvfb.waitForReadyRead(15000)) << xvfb.readAllStandardError().toStdString();
  const QString display = ":" + QString::fromLatin1(xvfb.readLine().trimmed());
  const Outcome outcome = run(narratedArguments(), [&display](QProcessEnvironment& env) {
    env.remove("XDG_RUNTIME_DIR");
    env.remove("QT_QPA_PLATFORM");
    env.remove("WAYLAND_DISPLAY");
    env.insert("DISPLAY", display);
  });
  xvfb.terminate();
  xvfb.waitForFinished(15000);
  expectOnlyTheStory(outcome);
  EXPECT_NE(debugLog().find("qt: "), std::string::npos);
}

// A link given to a second process goes to the running instance (played by this test, which
// holds the lock and listens where the program listens), and the second process ends at once.
TEST_F(LumarinProcessTest, ALinkOpenedWhileLumarinRunsIsHandedToIt) {
  const auto uid = static_cast<unsigned>(getuid());
  FlockInstanceLock lock;
  ASSERT_TRUE(lock.acquire(dir_ / SingleInstanceGuard::lockFileName("com.kestova.Lumarin", uid))
                  .valueOr(false));
  auto channel = std::make_unique<LocalURLChannel>();
  std::vector<std::string> links;
  ASSERT_TRUE(channel->listen(LocalURLChannel::socketPath(dir_.path(), "com.kestova.Lumarin", uid),
                              [&links](const std::string& url) {
                                links.push_back(url);
                                return true;
                              }));
  QProcess second;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_DATA_HOME", QString::fromStdString((dir_ / "data").string()));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
  env.insert("TMPDIR", QString::fromStdString(dir_.path().string()));
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir_.path().string()));
  second.setProcessEnvironment(env);
  second.start(LUMARIN_EXECUTABLE, {"lumarin://auth?code=abc&state=s"});
  ASSERT_TRUE(second.waitForStarted());
  while (second.state() != QProcess::NotRunning) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  EXPECT_EQ(links, (std::vector<std::string>{"lumarin://auth?code=abc&state=s"}));
  EXPECT_NE(debugLog().find(" startup: duplicate instance rejected pid="), std::string::npos);

  // Nobody takes it: the second process says so and fails.
  channel.reset();
  const Outcome refused = run({"--open-url", "lumarin://auth?code=abc&state=s"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.standardError.find("did not take the link"), std::string::npos);
}

}  // namespace
}  // namespace lumarin
