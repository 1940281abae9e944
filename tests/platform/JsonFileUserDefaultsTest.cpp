#include <gtest/gtest.h>

#include <thread>

#include "platform/host/JsonFileUserDefaults.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimSystemLog.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

class JsonFileUserDefaultsTest : public ::testing::Test {
 protected:
  std::unique_ptr<JsonFileUserDefaults> open() {
    return std::make_unique<JsonFileUserDefaults>(file_, process_, log_);
  }

  test::TempDir dir_;
  std::filesystem::path file_ = dir_ / "com.kestova.Lumarin" / "defaults.json";
  SimProcessInfo process_;
  SimSystemLog log_;
};

TEST_F(JsonFileUserDefaultsTest, EveryKindSurvivesAReload) {
  {
    auto defaults = open();
    defaults->set("flag", true);
    defaults->set("count", std::int64_t{3});
    defaults->set("ratio", 1.0);
    defaults->set("name", std::string("Mail"));
    defaults->set("AppleLanguages", StringArray{"de"});
    defaults->set("blob", Bytes{0, 1, 254, 255});
    defaults->set("when", Date{1772366405.25});
    defaults->set("empty", Bytes{});
  }
  auto defaults = open();
  EXPECT_EQ(defaults->boolean("flag"), true);
  EXPECT_EQ(defaults->integer("count"), 3);
  EXPECT_FALSE(defaults->real("count"));  // an integer never reads back as a double
  EXPECT_EQ(defaults->real("ratio"), 1.0);
  EXPECT_FALSE(defaults->integer("ratio"));
  EXPECT_EQ(defaults->string("name"), "Mail");
  EXPECT_EQ(defaults->stringArray("AppleLanguages"), StringArray{"de"});
  EXPECT_EQ(defaults->data("blob"), (Bytes{0, 1, 254, 255}));
  EXPECT_EQ(defaults->data("empty"), Bytes{});
  EXPECT_EQ(defaults->date("when"), Date{1772366405.25});
  EXPECT_FALSE(defaults->boolean("name"));  // present but of another type
  EXPECT_TRUE(defaults->contains("name"));
  defaults->remove("name");
  EXPECT_FALSE(open()->contains("name"));
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(JsonFileUserDefaultsTest, UnreadableFileIsMovedAsideAndReportedOnce) {
  test::writeFile(file_, "{\"launchAtLogin\": tru");
  auto defaults = open();
  EXPECT_FALSE(defaults->contains("launchAtLogin"));
  ASSERT_EQ(log_.lines().size(), 1u);
  EXPECT_NE(log_.lines()[0].find("kept as"), std::string::npos) << log_.lines()[0];
  int aside = 0;
  for (const auto& entry : std::filesystem::directory_iterator(file_.parent_path())) {
    if (entry.path().filename().string().rfind("defaults.json.unreadable-", 0) == 0) {
      ++aside;
      EXPECT_EQ(test::readFile(entry.path()), "{\"launchAtLogin\": tru");
    }
  }
  EXPECT_EQ(aside, 1);
  defaults->set("launchAtLogin", true);
  EXPECT_EQ(open()->boolean("launchAtLogin"), true);
  EXPECT_EQ(log_.lines().size(), 1u);
}

// 400 KB nested 200,000 deep: unreadable like any broken file, kept aside whole, and the
// program starts on its defaults instead of crashing at every launch.
TEST_F(JsonFileUserDefaultsTest, AFileNestedTooDeepIsKeptAsideLikeAnyUnreadableOne) {
  const std::string deep =
      R"({"launchAtLogin":true,"x":)" + std::string(200000, '[') + std::string(200000, ']') + "}";
  test::writeFile(file_, deep);
  auto defaults = open();
  EXPECT_FALSE(defaults->contains("launchAtLogin"));
  ASSERT_EQ(log_.lines().size(), 1u);
  EXPECT_NE(log_.lines()[0].find("nested deeper than 64 levels"), std::string::npos)
      << log_.lines()[0];
  bool kept = false;
  for (const auto& entry : std::filesystem::directory_iterator(file_.parent_path())) {
    kept = kept || (entry.path().filename().string().rfind("defaults.json.unreadable-", 0) == 0 &&
                    test::readFile(entry.path()) == deep);
  }
  EXPECT_TRUE(kept);
}

TEST_F(JsonFileUserDefaultsTest, TopLevelThatIsNotAnObjectIsAlsoKept) {
  test::writeFile(file_, "[1, 2]");
  open();
  EXPECT_EQ(log_.lines().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(JsonFileUserDefaultsTest, ValuesOfUnknownShapeAreKeptThroughRewrites) {
  test::writeFile(file_, R"({"future": {"kind": "dictionary", "a": [1, {"b": 2}]},
                             "mixed": [1, "x"], "name": "Mail"})");
  {
    auto defaults = open();
    EXPECT_FALSE(defaults->contains("future"));
    EXPECT_EQ(defaults->string("name"), "Mail");
    defaults->set("other", true);
  }
  const std::string text = test::readFile(file_);
  EXPECT_NE(text.find("\"dictionary\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"mixed\""), std::string::npos) << text;
  auto defaults = open();
  defaults->set("future", std::string("replaced"));
  EXPECT_EQ(open()->string("future"), "replaced");
}

TEST_F(JsonFileUserDefaultsTest, ConcurrentWritersLeaveACompleteFile) {
  auto defaults = open();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        defaults->set("k" + std::to_string(t) + "-" + std::to_string(i), std::int64_t{i});
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  auto reloaded = open();
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(reloaded->integer("k" + std::to_string(t) + "-49"), 49);
  }
  for (const auto& entry : std::filesystem::directory_iterator(file_.parent_path())) {
    EXPECT_EQ(entry.path().filename(), "defaults.json");  // no temporary file left behind
  }
}

TEST_F(JsonFileUserDefaultsTest, GlobalLanguagesComeFromTheLocaleEnvironment) {
  process_.env = {{"LANG", "ja_JP.UTF-8"}};
  EXPECT_EQ(open()->globalObject("AppleLanguages"), DefaultsValue(StringArray{"ja-JP"}));
  process_.env = {{"LANGUAGE", "pt_BR:de"}, {"LANG", "ja_JP.UTF-8"}};
  EXPECT_EQ(JsonFileUserDefaults::languagesFromEnvironment(process_), (StringArray{"pt-BR", "de"}));
  process_.env = {{"LC_ALL", "C"}, {"LANG", "ja_JP.UTF-8"}};
  EXPECT_FALSE(open()->globalObject("AppleLanguages"));
  process_.env = {{"LC_MESSAGES", "de_DE@euro"}};
  EXPECT_EQ(JsonFileUserDefaults::languagesFromEnvironment(process_), StringArray{"de-DE"});
}

}  // namespace
}  // namespace lumarin
