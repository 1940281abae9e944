// An app's exported menu layout as any app on the session bus may send it: a tree of entries
// whose properties have any name and any type. The bytes drive the tree: per entry, how many
// properties and children; per property, its name (from the protocol's and some others) and
// its type and value.
#include <QByteArray>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/desktop/DBusMenuLayout.h"

namespace {

constexpr const char* kNames[] = {
    "label",     "type",      "enabled",  "visible",          "toggle-type",     "toggle-state",
    "icon-name", "icon-data", "shortcut", "children-display", "accessible-desc", "disposition"};

struct Input {
  std::string_view bytes;
  std::uint8_t next() {
    if (bytes.empty()) {
      return 0;
    }
    const auto b = static_cast<std::uint8_t>(bytes.front());
    bytes.remove_prefix(1);
    return b;
  }
  QByteArray take(std::size_t most) {
    const std::size_t wanted = next() % (most + 1);  // before the size: it takes a byte
    const std::size_t n = std::min<std::size_t>(wanted, bytes.size());
    QByteArray out(bytes.data(), static_cast<qsizetype>(n));
    bytes.remove_prefix(n);
    return out;
  }
};

QVariant value(Input& in) {
  switch (in.next() % 7) {
    case 0:
      return QVariant(static_cast<int>(static_cast<std::int8_t>(in.next())));
    case 1:
      return QVariant(QString::fromUtf8(in.take(24)));
    case 2:
      return QVariant((in.next() & 1) != 0);
    case 3:
      return QVariant(in.take(200));  // icon data that may or may not be a PNG
    case 4:
      return QVariant(QStringList{QString::fromUtf8(in.take(8)), QString::fromUtf8(in.take(8))});
    case 5:
      return QVariant(static_cast<double>(in.next()));
    default:
      return QVariant();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin;
  Input in{std::string_view(reinterpret_cast<const char*>(data), size)};
  std::size_t made = 0;
  std::function<dbus::MenuLayoutItem(int)> entry = [&](int depth) {
    dbus::MenuLayoutItem item;
    item.id = static_cast<int>(++made);
    const std::uint8_t shape = in.next();
    for (int p = shape % 6; p > 0; --p) {
      item.properties.insert(QString::fromLatin1(kNames[in.next() % std::size(kNames)]), value(in));
    }
    // Wide and deep trees, bounded only so the fuzzer stays fast.
    int children = (shape >> 3) % 9;
    if ((shape & 0x80) != 0) {
      children *= 40;
    }
    for (int c = 0; c < children && depth < 40 && made < 20000 && !in.bytes.empty(); ++c) {
      item.children.push_back(entry(depth + 1));
    }
    return item;
  };
  const dbus::MenuLayoutItem root = entry(0);
  DBusMenuLimits limits;
  limits.maxEntries = 300;
  limits.maxDepth = 4;
  const Menu menu = menuFromLayout(root, limits);
  std::size_t entries = 0;
  std::function<void(const Menu&, int)> check = [&](const Menu& m, int depth) {
    if (depth > limits.maxDepth) __builtin_trap();
    for (const auto& item : m.items) {
      ++entries;
      if (!item.isSeparator && !dbusMenuEntryID(item)) __builtin_trap();
      if (item.submenu) check(*item.submenu, depth + 1);
    }
  };
  check(menu, 0);  // the top menu, then at most maxDepth submenus deep
  if (entries > limits.maxEntries) __builtin_trap();
  return 0;
}
