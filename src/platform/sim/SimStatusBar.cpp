#include "platform/sim/SimStatusBar.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "gfx/Drawing.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

namespace {

constexpr const char* kPositionPrefix = "NSStatusItem Preferred Position ";
// Space between a button's edge and its content, and between its image and its title.
constexpr double kContentInset = 4;
constexpr double kImageTitleGap = 2;

QFont titleFont(const StyledText& text) {
  QFont font;
  font.setPointSizeF(text.pointSize);
  font.setWeight(text.semibold ? QFont::DemiBold : QFont::Normal);
  // The system font's digits are tabular already; Qt 6.4 has no switch for the feature.
  return font;
}

double titleWidth(const StyledText& text) {
  if (text.text.empty()) {
    return 0;
  }
  return std::ceil(
      QFontMetricsF(titleFont(text)).horizontalAdvance(QString::fromStdString(text.text)));
}

}  // namespace

// The button and the item in one: the world keeps what the menu bar needs of both.
class SimStatusItem final : public StatusItem, public StatusBarButton {
 public:
  SimStatusItem(SimStatusBar& bar, double length) : bar_(bar), length_(length) {
    id_ = bar_.world().addHostedItem();
    redraw();
  }
  ~SimStatusItem() override = default;

  int hostedID() const { return id_; }
  unsigned actionMask() const { return mask_; }
  const std::optional<Menu>& menu() const { return menu_; }
  const MenuHandlers& menuHandlers() const { return menuHandlers_; }
  const std::function<void(StatusBarButton&)>& action() const { return action_; }
  const std::vector<ButtonLayer>& layers() const { return layers_; }
  std::string title() const { return attributedTitle_ ? attributedTitle_->text : title_; }
  void detach() {
    bar_.world().removeHostedItem(id_);
    removed_ = true;
  }
  bool removed() const { return removed_; }

  // StatusItem
  void setAutosaveName(const std::string& name) override {
    autosaveName_ = name;
    // The system puts a named item where it stood last time.
    const auto position = bar_.defaults().number(kPositionPrefix + name);
    bar_.world().updateHostedItem(id_, [&](HostedStatusItem& item) {
      item.autosaveName = name;
      item.preferredPosition = position;
    });
  }
  const std::string& autosaveName() const override { return autosaveName_; }
  void setLength(double length) override {
    length_ = length;
    redraw();
  }
  double length() const override { return length_; }
  void setVisible(bool visible) override {
    if (visible_ == visible) {
      return;
    }
    visible_ = visible;
    // Hiding an item forgets its place; shown again it starts at the left end.
    if (!visible && !autosaveName_.empty()) {
      bar_.defaults().remove(kPositionPrefix + autosaveName_);
    }
    bar_.world().updateHostedItem(id_, [&](HostedStatusItem& item) {
      item.visible = visible;
      if (!visible) {
        item.preferredPosition.reset();
      }
    });
  }
  bool isVisible() const override { return visible_; }
  StatusBarButton& button() override { return *this; }
  void setMenu(std::optional<Menu> menu, MenuHandlers handlers) override {
    menu_ = std::move(menu);
    menuHandlers_ = menu_ ? std::move(handlers) : MenuHandlers{};
  }
  bool hasMenu() const override { return menu_.has_value(); }
  void setContextMenu(std::optional<Menu> /*menu*/, MenuHandlers /*handlers*/) override {}

  // StatusBarButton
  void setImage(std::optional<LazyImage> image) override {
    image_ = std::move(image);
    redraw();
  }
  const std::optional<LazyImage>& image() const override { return image_; }
  void setTitle(const std::string& title) override {
    title_ = title;
    attributedTitle_.reset();
    redraw();
  }
  void setAttributedTitle(std::optional<StyledText> title) override {
    attributedTitle_ = std::move(title);
    redraw();
  }
  const std::optional<StyledText>& attributedTitle() const override { return attributedTitle_; }
  void setImagePosition(ImagePosition position) override {
    imagePosition_ = position;
    redraw();
  }
  void setToolTip(std::optional<std::string> toolTip) override { toolTip_ = std::move(toolTip); }
  const std::optional<std::string>& toolTip() const override { return toolTip_; }
  void setIdentifier(const std::string& identifier) override { identifier_ = identifier; }
  const std::string& identifier() const override { return identifier_; }
  void setAccessibilityLabel(const std::string& label) override { accessibilityLabel_ = label; }
  const std::string& accessibilityLabel() const override { return accessibilityLabel_; }
  void setAction(std::function<void(StatusBarButton&)> action, unsigned mask) override {
    action_ = std::move(action);
    mask_ = mask;
  }
  void performClick() override {
    if (menu_) {
      // Copies: showing closes an open menu first, and its handlers may detach this one.
      const Menu menu = *menu_;
      MenuHandlers handlers = menuHandlers_;
      bar_.showMenu(autosaveName_, menu, std::move(handlers));
      return;
    }
    if (action_ && (mask_ & kSendOnLeftMouseUp) != 0) {
      bar_.events().setCurrentEvent(Event{EventType::leftMouseUp, 1, 0});
      auto action = action_;
      action(*this);
    }
  }
  void popUpMenu(const Menu& menu, MenuHandlers handlers) override {
    bar_.showMenu(autosaveName_, menu, std::move(handlers));
  }
  Size bounds() const override { return Size{width_, SimStatusBar::kThickness}; }
  bool isFlipped() const override { return true; }
  LazyImage display() const override { return display_; }
  std::optional<StatusItemWindow> window() const override {
    auto placed = bar_.world().placedHostedItem(id_);
    if (!placed) {
      return std::nullopt;
    }
    const auto screens = bar_.world().screens();
    const double firstMaxY = screens.empty() ? 0 : screens.front().frame.maxY();
    StatusItemWindow w;
    w.number = placed->windowID;
    w.frame = CocoaRect(placed->frame.minX(), firstMaxY - placed->frame.maxY(),
                        placed->frame.width(), placed->frame.height());
    w.title = windowTitle_;
    w.backingScaleFactor = screens.empty() ? 2 : screens.front().backingScale;
    return w;
  }
  void setWindowTitle(const std::string& title) override {
    windowTitle_ = title;
    bar_.world().updateHostedItem(id_, [&](HostedStatusItem& item) { item.windowTitle = title; });
  }
  std::optional<ButtonLayer> layer(const std::string& name) const override {
    for (const auto& l : layers_) {
      if (l.name == name) {
        return l;
      }
    }
    return std::nullopt;
  }
  void addLayer(ButtonLayer layer) override {
    layers_.push_back(std::move(layer));
    pushLayers();
  }
  void removeLayer(const std::string& name) override {
    std::erase_if(layers_, [&](const ButtonLayer& l) { return l.name == name; });
    pushLayers();
  }
  void moveLayer(const std::string& name, CocoaPoint position) override {
    for (auto& l : layers_) {
      if (l.name == name) {
        l.position = position;
      }
    }
    pushLayers();
  }

 private:
  void pushLayers() {
    bar_.world().updateHostedItem(id_, [&](HostedStatusItem& item) { item.layers = layers_; });
  }

  // Lays the button's content out. Its pixels are drawn only when the menu bar is displayed,
  // as the window server composites it, so a run of property changes costs one layout each.
  void redraw() {
    std::optional<StyledText> text = attributedTitle_;
    if (!text && !title_.empty()) {
      text = StyledText{title_, 13, false, false, RgbColor{0, 0, 0, 0.85}};
    }
    const double textWidth = text ? titleWidth(*text) : 0;
    const Size imageSize = image_ ? image_->size : Size{0, 0};
    double content = imageSize.width;
    if (textWidth > 0) {
      content += (imageSize.width > 0 ? kImageTitleGap : 0) + textWidth;
    }
    const double variable = content > 0 ? content + 2 * kContentInset : 0;
    width_ = length_ == kVariableStatusItemLength ? variable
             : length_ == kSquareStatusItemLength ? SimStatusBar::kThickness
                                                  : std::max(0.0, length_);
    LazyImage picture;
    if (width_ > 0 && content > 0) {
      const double width = width_;
      picture.size = Size{width, SimStatusBar::kThickness};
      picture.isTemplate = image_ && image_->isTemplate && !text;
      picture.render = [image = image_, text, textWidth, imageSize, width, content](double scale) {
        const Image raster = image ? image->rasterize(scale) : Image{};
        DrawableImage drawable;
        drawable.size = Size{width, SimStatusBar::kThickness};
        drawable.draw = [&](QPainter& p) {
          double x = std::max(0.0, (width - content) / 2);
          if (!raster.isEmpty()) {
            // A template image is drawn as a mask; the bar's renderer gives it the bar's ink.
            const QRectF box(x, (SimStatusBar::kThickness - imageSize.height) / 2, imageSize.width,
                             imageSize.height);
            p.drawImage(box, toQImage(raster));
            x += imageSize.width + kImageTitleGap;
          }
          if (text && textWidth > 0) {
            p.setFont(titleFont(*text));
            p.setPen(QColor::fromRgbF(
                static_cast<float>(text->color.red), static_cast<float>(text->color.green),
                static_cast<float>(text->color.blue), static_cast<float>(text->color.alpha)));
            p.drawText(QRectF(x, 0, textWidth + 1, SimStatusBar::kThickness),
                       Qt::AlignVCenter | Qt::AlignLeft, QString::fromStdString(text->text));
          }
        };
        return drawable.rasterize(scale);
      };
    }
    display_ = picture;
    bar_.world().updateHostedItem(id_, [&](HostedStatusItem& item) {
      item.width = width_;
      item.picture = std::move(picture);
    });
  }

  SimStatusBar& bar_;
  int id_ = 0;
  std::string autosaveName_;
  double length_;
  double width_ = 0;
  bool visible_ = true;
  bool removed_ = false;
  std::optional<LazyImage> image_;
  std::string title_;
  std::optional<StyledText> attributedTitle_;
  ImagePosition imagePosition_ = ImagePosition::imageOnly;
  std::optional<std::string> toolTip_;
  std::string identifier_;
  std::string accessibilityLabel_;
  std::function<void(StatusBarButton&)> action_;
  unsigned mask_ = kSendOnLeftMouseUp;
  std::optional<Menu> menu_;
  MenuHandlers menuHandlers_;
  std::string windowTitle_;
  std::vector<ButtonLayer> layers_;
  LazyImage display_;
};

SimStatusBar::SimStatusBar(World& world, Scheduler& scheduler, UserDefaults& defaults,
                           SimEvents& events)
    : world_(world), scheduler_(scheduler), defaults_(defaults), events_(events) {}

SimStatusBar::~SimStatusBar() = default;

std::shared_ptr<StatusItem> SimStatusBar::makeStatusItem(double length) {
  auto item = std::make_shared<SimStatusItem>(*this, length);
  items_.push_back(item);
  return item;
}

void SimStatusBar::removeStatusItem(const std::shared_ptr<StatusItem>& item) {
  auto it = std::find_if(items_.begin(), items_.end(),
                         [&](const auto& own) { return own.get() == item.get(); });
  if (it == items_.end()) {
    return;
  }
  (*it)->detach();
  items_.erase(it);
}

std::vector<std::shared_ptr<StatusItem>> SimStatusBar::items() const {
  return {items_.begin(), items_.end()};
}

std::shared_ptr<SimStatusItem> SimStatusBar::find(const std::string& name) const {
  if (name == "own") {
    return items_.empty() ? nullptr : items_.front();
  }
  for (const auto& item : items_) {
    const std::string& autosave = item->autosaveName();
    if (autosave == name ||
        (autosave.size() > name.size() &&
         autosave.compare(autosave.size() - name.size(), name.size(), name) == 0 &&
         autosave[autosave.size() - name.size() - 1] == '.')) {
      return item;
    }
  }
  return nullptr;
}

bool SimStatusBar::click(const std::string& name, bool right, int clicks, unsigned modifiers) {
  auto item = find(name);
  if (!item) {
    return false;
  }
  auto placed = world_.placedHostedItem(item->hostedID());
  if (!placed || !placed->drawn) {
    return false;  // nobody can click what the menu bar does not show
  }
  for (int n = 1; n <= std::max(1, clicks); ++n) {
    deliver(*item, Event{right ? EventType::rightMouseUp : EventType::leftMouseUp, n, modifiers});
  }
  return true;
}

void SimStatusBar::deliver(SimStatusItem& item, const Event& event) {
  events_.setCurrentEvent(event);
  if (openMenu_ && shown_[openMenu_->record].owner == item.autosaveName()) {
    // As on macOS, a click on the item whose menu is open closes the menu.
    if (event.clickCount == 1) {
      closeOpenMenu("closed");
    }
    return;
  }
  if (item.menu()) {
    if (event.clickCount == 1) {
      const Menu menu = *item.menu();
      MenuHandlers handlers = item.menuHandlers();
      showMenu(item.autosaveName(), menu, std::move(handlers));
    }
    return;
  }
  const bool right = event.type == EventType::rightMouseUp;
  const unsigned needed = right ? kSendOnRightMouseUp : kSendOnLeftMouseUp;
  if (item.action() && (item.actionMask() & needed) != 0) {
    auto action = item.action();  // the action may replace itself
    action(item);
  }
}

bool SimStatusBar::deliverClick(int hostedItem, const Event& event) {
  for (const auto& item : items_) {
    if (item->hostedID() == hostedItem) {
      deliver(*item, event);
      return true;
    }
  }
  return false;
}

std::shared_ptr<StatusItem> SimStatusBar::itemWithWindow(std::uint32_t number) const {
  for (const auto& item : items_) {
    if (auto placed = world_.placedHostedItem(item->hostedID());
        placed && placed->windowID == number) {
      return item;
    }
  }
  return nullptr;
}

void SimStatusBar::showMenu(const std::string& owner, const Menu& menu, MenuHandlers handlers) {
  if (openMenu_) {
    closeOpenMenu("closed");
  }
  ShownMenu record;
  record.at = world_.now();
  record.owner = owner;
  record.menu = menu;
  shown_.push_back(std::move(record));
  openMenu_ = OpenMenu{shown_.size() - 1, menu, std::move(handlers)};
  if (presenter_) {
    presenter_(owner, menu);
  }
}

void SimStatusBar::closeOpenMenu(const std::string& outcome) {
  if (!openMenu_) {
    return;
  }
  auto open = std::move(*openMenu_);
  openMenu_.reset();
  shown_[open.record].outcome = outcome;
  if (open.handlers.didClose) {
    open.handlers.didClose();
  }
}

bool SimStatusBar::choose(const std::vector<std::string>& path) {
  if (!openMenu_ || path.empty()) {
    return false;
  }
  const Menu* level = &openMenu_->menu;
  const MenuItem* entry = nullptr;
  for (std::size_t i = 0; i < path.size(); ++i) {
    entry = nullptr;
    for (const auto& candidate : level->items) {
      if (!candidate.isSeparator && candidate.title == path[i]) {
        entry = &candidate;
        break;
      }
    }
    if (entry == nullptr || !entry->enabled) {
      return false;
    }
    if (i + 1 < path.size()) {
      if (!entry->submenu) {
        return false;
      }
      level = entry->submenu.get();
    }
  }
  if (entry->submenu) {
    return false;  // a submenu is opened, not chosen
  }
  const MenuItem chosen = *entry;
  auto handlers = openMenu_->handlers;
  shown_[openMenu_->record].chosenPath = path;
  // As in AppKit, the menu has closed by the time the entry's action is sent.
  closeOpenMenu("chose");
  if (handlers.chose) {
    handlers.chose(chosen);
  }
  return true;
}

bool SimStatusBar::dismissMenu() {
  if (!openMenu_) {
    return false;
  }
  closeOpenMenu("closed");
  return true;
}

namespace {

json::OrderedJson menuJson(const Menu& menu) {
  json::OrderedJson entries = json::OrderedJson::array();
  for (const auto& item : menu.items) {
    if (item.isSeparator) {
      entries.push_back("-");
      continue;
    }
    json::OrderedJson entry;
    entry["title"] = item.title;
    if (!item.keyEquivalent.empty()) {
      entry["key"] = item.keyEquivalent;
      entry["modifiers"] = item.modifiers;
    }
    if (!item.enabled) {
      entry["enabled"] = false;
    }
    if (item.checked) {
      entry["checked"] = true;
    }
    if (item.image) {
      entry["image"] = true;
    }
    if (item.submenu) {
      entry["submenu"] = menuJson(*item.submenu);
    }
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace

Status SimStatusBar::writePictures(const std::filesystem::path& directory, double scale) const {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  for (const auto& item : items_) {
    if (!item->image()) {
      continue;
    }
    Image picture = item->image()->rasterize(scale);
    if (picture.isEmpty()) {
      continue;
    }
    if (auto status = writePng(picture, directory / (item->autosaveName() + ".png")); !status) {
      return status;
    }
  }
  return success();
}

json::OrderedJson SimStatusBar::menusJson() const {
  json::OrderedJson out = json::OrderedJson::array();
  for (const auto& shown : shown_) {
    json::OrderedJson entry;
    entry["at"] = std::round(shown.at * 1e6) / 1e6;
    entry["item"] = shown.owner;
    entry["entries"] = menuJson(shown.menu);
    entry["outcome"] = shown.outcome;
    if (!shown.chosenPath.empty()) {
      entry["chose"] = shown.chosenPath;
    }
    out.push_back(entry);
  }
  return out;
}

json::OrderedJson SimStatusBar::statusItemsJson() const {
  json::OrderedJson out = json::OrderedJson::array();
  for (const auto& item : items_) {
    json::OrderedJson entry;
    entry["autosaveName"] = item->autosaveName();
    const auto position = defaults_.number(kPositionPrefix + item->autosaveName());
    entry["storedPosition"] = position ? json::OrderedJson(*position) : json::OrderedJson();
    const double length = item->length();
    entry["length"] = length == kVariableStatusItemLength ? json::OrderedJson("variable")
                      : length == kSquareStatusItemLength ? json::OrderedJson("square")
                                                          : json::OrderedJson(length);
    entry["visible"] = item->isVisible();
    const auto placed = world_.placedHostedItem(item->hostedID());
    entry["drawn"] = placed && placed->drawn;
    if (placed) {
      entry["frame"] = json::OrderedJson::array({placed->frame.minX(), placed->frame.minY(),
                                                 placed->frame.width(), placed->frame.height()});
    } else {
      entry["frame"] = nullptr;
    }
    entry["title"] = item->title();
    entry["toolTip"] = item->toolTip() ? json::OrderedJson(*item->toolTip()) : json::OrderedJson();
    json::OrderedJson layers = json::OrderedJson::array();
    for (const auto& layer : item->layers()) {
      layers.push_back(layer.name);
    }
    entry["layers"] = layers;
    entry["picture"] = item->image()
                           ? json::OrderedJson("statusItems/" + item->autosaveName() + ".png")
                           : json::OrderedJson();
    out.push_back(entry);
  }
  return out;
}

}  // namespace lumarin::sim
