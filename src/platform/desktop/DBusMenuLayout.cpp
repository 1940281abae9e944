#include "platform/desktop/DBusMenuLayout.h"

#include <QDBusArgument>
#include <charconv>

#include "platform/desktop/TrayImages.h"

namespace lumarin {

namespace {

constexpr qsizetype kMaxLabel = 512;

std::optional<QString> stringProperty(const QVariantMap& properties, const char* name) {
  const QVariant value = properties.value(QLatin1String(name));
  if (value.metaType() != QMetaType::fromType<QString>()) {
    return std::nullopt;
  }
  return value.toString();
}

std::optional<bool> boolProperty(const QVariantMap& properties, const char* name) {
  const QVariant value = properties.value(QLatin1String(name));
  if (value.metaType() != QMetaType::fromType<bool>()) {
    return std::nullopt;
  }
  return value.toBool();
}

std::optional<int> intProperty(const QVariantMap& properties, const char* name) {
  const QVariant value = properties.value(QLatin1String(name));
  if (value.metaType() != QMetaType::fromType<int>()) {
    return std::nullopt;
  }
  return value.toInt();
}

// "shortcut" (aas): the last combination, as key equivalent and modifiers.
void applyShortcut(const QVariant& value, MenuItem& item) {
  if (value.metaType() != QMetaType::fromType<QDBusArgument>()) {
    return;
  }
  const auto argument = value.value<QDBusArgument>();
  if (argument.currentSignature() != QLatin1String("aas")) {
    return;
  }
  const auto combinations = qdbus_cast<dbus::MenuShortcut>(argument);
  if (combinations.isEmpty() || combinations.back().isEmpty()) {
    return;
  }
  const QStringList& keys = combinations.back();
  unsigned modifiers = 0;
  for (qsizetype i = 0; i + 1 < keys.size(); ++i) {
    if (keys[i] == QLatin1String("Control")) {
      modifiers |= kModifierControl;
    } else if (keys[i] == QLatin1String("Alt")) {
      modifiers |= kModifierOption;
    } else if (keys[i] == QLatin1String("Super")) {
      modifiers |= kModifierCommand;
    } else if (keys[i] == QLatin1String("Shift")) {
      modifiers |= kModifierShift;
    }
  }
  const QString& key = keys.back();
  item.keyEquivalent = (key.size() == 1 ? key.toLower() : key).left(32).toStdString();
  item.modifiers = modifiers;
}

struct Reader {
  const DBusMenuLimits& limits;
  std::size_t entries = 0;

  Menu read(const dbus::MenuLayoutItem& parent, int depth) {
    Menu menu;
    for (const auto& child : parent.children) {
      if (entries >= limits.maxEntries) {
        break;
      }
      const QVariantMap& p = child.properties;
      if (boolProperty(p, "visible") == false) {
        continue;
      }
      ++entries;
      if (stringProperty(p, "type") == QStringLiteral("separator")) {
        menu.items.push_back(MenuItem::separator());
        continue;
      }
      MenuItem item;
      item.title = labelWithoutMnemonics(
          stringProperty(p, "label").value_or(QString()).left(kMaxLabel).toStdString());
      item.action = kDBusMenuAction;
      item.representedObject = std::to_string(child.id);
      item.modifiers = 0;
      item.enabled = boolProperty(p, "enabled").value_or(true);
      const auto toggle = stringProperty(p, "toggle-type");
      item.checked = (toggle == QStringLiteral("checkmark") || toggle == QStringLiteral("radio")) &&
                     intProperty(p, "toggle-state") == 1;
      applyShortcut(p.value(QStringLiteral("shortcut")), item);
      std::shared_ptr<const Image> icon;
      if (const QVariant data = p.value(QStringLiteral("icon-data"));
          data.metaType() == QMetaType::fromType<QByteArray>()) {
        icon = imageFromPng(data.toByteArray(), limits.iconPixels);
      }
      if (!icon) {
        if (auto name = stringProperty(p, "icon-name"); name && !name->isEmpty()) {
          icon = namedTrayIcon(name->left(kMaxLabel).toStdString(), {}, limits.iconPixels);
        }
      }
      if (icon) {
        item.image = *icon;
      }
      const bool hasSubmenu = stringProperty(p, "children-display") == QStringLiteral("submenu") ||
                              !child.children.isEmpty();
      if (hasSubmenu && depth < limits.maxDepth) {
        item.submenu = std::make_shared<Menu>(read(child, depth + 1));
      }
      menu.items.push_back(std::move(item));
    }
    return menu;
  }
};

}  // namespace

std::string labelWithoutMnemonics(std::string_view label) {
  std::string out;
  out.reserve(label.size());
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '_') {
      if (i + 1 < label.size() && label[i + 1] == '_') {
        out += '_';
        ++i;
      }
      continue;
    }
    out += label[i];
  }
  return out;
}

Menu menuFromLayout(const dbus::MenuLayoutItem& root, const DBusMenuLimits& limits) {
  Reader reader{limits};
  return reader.read(root, 0);
}

std::optional<int> dbusMenuEntryID(const MenuItem& item) {
  const auto* id = std::get_if<std::string>(&item.representedObject);
  if (item.action != kDBusMenuAction || id == nullptr) {
    return std::nullopt;
  }
  int value = 0;
  const auto [end, error] = std::from_chars(id->data(), id->data() + id->size(), value);
  if (error != std::errc() || end != id->data() + id->size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace lumarin
