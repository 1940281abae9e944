// Other apps' exported menus read as menu values, without a bus: what the layout decoder keeps,
// what it leaves out, and what it refuses to grow on.

#include <gtest/gtest.h>

#include "platform/desktop/DBusMenuLayout.h"

namespace lumarin {
namespace {

dbus::MenuLayoutItem entry(int id, QVariantMap properties,
                           QList<dbus::MenuLayoutItem> children = {}) {
  return dbus::MenuLayoutItem{id, std::move(properties), std::move(children)};
}

TEST(DBusMenuLayoutTest, EntriesKeepTheirLabelsMarksAndSubmenusAndHiddenOnesGo) {
  const auto root = entry(
      0, {{"children-display", "submenu"}},
      {entry(3, {{"label", "_Open __Recent"}, {"enabled", false}}),
       entry(7, {{"type", "separator"}}), entry(8, {{"label", "Hidden"}, {"visible", false}}),
       entry(9, {{"label", "Do _not disturb"}, {"toggle-type", "checkmark"}, {"toggle-state", 1}}),
       entry(10, {{"label", "Loud"}, {"toggle-type", "radio"}, {"toggle-state", 0}}),
       entry(11, {{"label", "More"}, {"children-display", "submenu"}},
             {entry(12, {{"label", "Inner"}})})});
  const Menu menu = menuFromLayout(root);
  ASSERT_EQ(menu.items.size(), 5u);
  EXPECT_EQ(menu.items[0].title, "Open _Recent");
  EXPECT_FALSE(menu.items[0].enabled);
  EXPECT_EQ(dbusMenuEntryID(menu.items[0]), 3);
  EXPECT_TRUE(menu.items[1].isSeparator);
  EXPECT_EQ(menu.items[2].title, "Do not disturb");
  EXPECT_TRUE(menu.items[2].checked);
  EXPECT_FALSE(menu.items[3].checked);
  ASSERT_TRUE(menu.items[4].submenu != nullptr);
  ASSERT_EQ(menu.items[4].submenu->items.size(), 1u);
  EXPECT_EQ(dbusMenuEntryID(menu.items[4].submenu->items[0]), 12);
  // Entries the program made itself are not the app's.
  EXPECT_FALSE(dbusMenuEntryID(MenuItem::command("Quit", "terminate:")).has_value());
}

TEST(DBusMenuLayoutTest, MalformedPropertiesAreIgnoredAndHugeMenusAreBounded) {
  // Wrong types, a broken PNG, a label far too long: the entry stays, the property goes.
  const auto odd = entry(0, {},
                         {entry(1, {{"label", 42},
                                    {"enabled", "yes"},
                                    {"toggle-state", "on"},
                                    {"toggle-type", "checkmark"},
                                    {"icon-data", QByteArray("\x89PNG broken")},
                                    {"children-display", 5}}),
                          entry(2, {{"label", QString(100000, QChar('x'))}})});
  const Menu menu = menuFromLayout(odd);
  ASSERT_EQ(menu.items.size(), 2u);
  EXPECT_EQ(menu.items[0].title, "");
  EXPECT_TRUE(menu.items[0].enabled);
  EXPECT_FALSE(menu.items[0].checked);
  EXPECT_FALSE(menu.items[0].image.has_value());
  EXPECT_EQ(menu.items[1].title.size(), 512u);

  // Ten thousand entries, and a chain of submenus deeper than anyone needs.
  dbus::MenuLayoutItem wide = entry(0, {});
  for (int i = 1; i <= 10000; ++i) {
    wide.children.push_back(entry(i, {{"label", QString::number(i)}}));
  }
  DBusMenuLimits limits;
  EXPECT_EQ(menuFromLayout(wide, limits).items.size(), limits.maxEntries);
  dbus::MenuLayoutItem deep = entry(100, {{"label", "bottom"}});
  for (int i = 99; i >= 0; --i) {
    deep = entry(i, {{"label", "level"}}, {deep});
  }
  const Menu chain = menuFromLayout(entry(-1, {}, {deep}), limits);
  int depth = 0;
  for (const Menu* level = &chain; !level->items.empty() && level->items[0].submenu;
       level = level->items[0].submenu.get()) {
    ++depth;
  }
  EXPECT_EQ(depth, limits.maxDepth);
}

TEST(DBusMenuLayoutTest, MnemonicMarksGoAndDoubledOnesStaySingle) {
  EXPECT_EQ(labelWithoutMnemonics("_File"), "File");
  EXPECT_EQ(labelWithoutMnemonics("snake__case"), "snake_case");
  EXPECT_EQ(labelWithoutMnemonics("___"), "_");
  EXPECT_EQ(labelWithoutMnemonics("end_"), "end");
  EXPECT_EQ(labelWithoutMnemonics(""), "");
}

}  // namespace
}  // namespace lumarin
