#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "platform/desktop/DesktopEntries.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

void writeFile(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

std::string app(const std::string& name, const std::string& extra = "") {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name + "\n" + extra;
}

TEST(DesktopEntriesTest, ReadsTheEntryGroupWithKeyFileEscapesAndLocalisedNames) {
  const auto entry = parseDesktopEntry(
      "# comment\n"
      "[Desktop Entry]\n"
      "Type = Application\n"
      "Name=Mail\n"
      "Name[de]=Post\n"
      "Name[de_AT]=Postfach\n"
      "Name[sr@latin]=Pošta\n"
      "Icon=mail-unread\n"
      "Exec=\"/opt/my\\sapp/mail\" --tab\\t%U\n"
      "Garbage line without equals\n"
      "NoDisplay=true\n"
      "DBusActivatable=true\n"
      "Name=Second value ignored\n"
      "[Desktop Action Compose]\n"
      "Name=Compose\n"
      "Exec=other\n",
      localeKeys("de_AT.UTF-8"));
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->name, "Postfach");
  EXPECT_EQ(entry->icon, "mail-unread");
  EXPECT_EQ(entry->exec, "\"/opt/my app/mail\" --tab\t%U");
  EXPECT_TRUE(entry->noDisplay);
  EXPECT_TRUE(entry->dbusActivatable);
  EXPECT_FALSE(entry->hidden);

  EXPECT_EQ(parseDesktopEntry(app("Mail", "Name[de]=Post\n"), localeKeys("de_CH"))->name, "Post");
  EXPECT_EQ(
      parseDesktopEntry(app("Mail", "Name[sr@latin]=Pošta\n"), localeKeys("sr_RS@latin"))->name,
      "Pošta");
  EXPECT_EQ(parseDesktopEntry(app("Mail", "Name[de]=Post\n"), localeKeys("C"))->name, "Mail");
}

TEST(DesktopEntriesTest, LocaleKeysGoFromTheMostSpecific) {
  EXPECT_EQ(localeKeys("de_AT.UTF-8@euro"),
            (std::vector<std::string>{"de_AT@euro", "de_AT", "de@euro", "de"}));
  EXPECT_EQ(localeKeys("ja"), (std::vector<std::string>{"ja"}));
  EXPECT_TRUE(localeKeys("POSIX").empty());
  EXPECT_TRUE(localeKeys("C.UTF-8").empty());
  EXPECT_TRUE(localeKeys("").empty());
}

TEST(DesktopEntriesTest, OnlyApplicationsWithANameAreEntries) {
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Link\nName=Web\nURL=http://x\n", {}));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Application\nExec=x\n", {}));
  EXPECT_FALSE(parseDesktopEntry("[Other Group]\nType=Application\nName=X\n", {}));
  EXPECT_FALSE(parseDesktopEntry("", {}));
  EXPECT_FALSE(parseDesktopEntry(std::string(10000, '['), {}));
  EXPECT_FALSE(parseDesktopEntry(std::string("\0\0\xff\xfe=", 6), {}));
}

TEST(DesktopEntriesTest, DesktopFileIDsAreRelativePathsWithDashes) {
  EXPECT_EQ(desktopFileID("/usr/share/applications", "/usr/share/applications/org.a.B.desktop"),
            "org.a.B.desktop");
  EXPECT_EQ(
      desktopFileID("/usr/share/applications/", "/usr/share/applications/kde4/konsole.desktop"),
      "kde4-konsole.desktop");
  EXPECT_EQ(desktopFileID("/usr/share/applications", "/usr/share/other/a.desktop"), "");
  EXPECT_EQ(desktopFileID("/usr/share/applications", "/usr/share/applications/readme.txt"), "");
  EXPECT_EQ(desktopFileID("/usr/share/applications", "/usr/share/applications-x/a.desktop"), "");
}

TEST(DesktopEntriesTest, DirectoriesFollowTheBaseDirectoryVariables) {
  std::map<std::string, std::string> env{{"HOME", "/home/u"}};
  const auto get = [&env](const char* name) -> std::optional<std::string> {
    auto it = env.find(name);
    return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  EXPECT_EQ(applicationDirectories(get),
            (std::vector<std::filesystem::path>{"/home/u/.local/share/applications",
                                                "/usr/local/share/applications",
                                                "/usr/share/applications"}));
  env["XDG_DATA_HOME"] = "/d";
  env["XDG_DATA_DIRS"] = "/a:relative/ignored::/b:/a";
  EXPECT_EQ(applicationDirectories(get),
            (std::vector<std::filesystem::path>{"/d/applications", "/a/applications",
                                                "/b/applications"}));
}

TEST(DesktopEntriesTest, TheFirstFolderWinsAndHiddenRemovesTheEntry) {
  test::TempDir root;
  const auto user = root / "user";
  const auto sys = root / "sys";
  writeFile(sys / "mail.desktop", app("System Mail"));
  writeFile(user / "mail.desktop", app("My Mail"));
  writeFile(sys / "chat.desktop", app("Chat"));
  writeFile(user / "chat.desktop", app("Chat", "Hidden=true\n"));
  writeFile(sys / "vendor" / "tool.desktop", app("Tool", "NoDisplay=true\n"));
  writeFile(sys / "link.desktop", "[Desktop Entry]\nType=Link\nName=L\n");
  writeFile(sys / "notes.txt", app("Not an entry"));
  writeFile(sys / "huge.desktop", app("Huge") + std::string(2 << 20, '#'));

  const auto entries = readDesktopEntries({user, root / "missing", sys}, {});
  std::map<std::string, DesktopEntry> byID;
  for (const auto& entry : entries) {
    byID[entry.id] = entry;
  }
  ASSERT_EQ(byID.size(), 2u);
  EXPECT_EQ(byID["mail.desktop"].name, "My Mail");
  EXPECT_EQ(byID["mail.desktop"].path, (user / "mail.desktop").string());
  EXPECT_TRUE(byID["vendor-tool.desktop"].noDisplay);

  const auto picked = readDesktopEntryFile(sys / "vendor" / "tool.desktop", {user, sys}, {});
  ASSERT_TRUE(picked);
  EXPECT_EQ(picked->id, "vendor-tool.desktop");
  const auto elsewhere = readDesktopEntryFile(sys / "mail.desktop", {user}, {});
  ASSERT_TRUE(elsewhere);
  EXPECT_EQ(elsewhere->id, "mail.desktop");
  EXPECT_FALSE(readDesktopEntryFile(root / "nothing.desktop", {}, {}));
}

}  // namespace
}  // namespace lumarin
