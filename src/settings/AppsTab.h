#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "base/Observable.h"
#include "base/Uuid.h"
#include "model/MonitoredApp.h"

class QMenu;
class QVBoxLayout;

namespace lumarin {

class AppsTabRow;
class CapsuleSegmentedControl;
class PulldownPill;
class RepeatingTimer;
class SettingsCard;
class SettingsLabel;
struct SettingsContext;

// The settings window's "Apps" tab: the accessibility request while it is missing (never on a
// platform without that permission), the default badge style, the list of apps shown in the
// menu bar with a per-app editor (style, colour, visibility, a preview of the menu bar item,
// removal), adding apps from the Dock or from disk, and reordering by dragging a row or with
// Option-Up / Option-Down on its disclosure button.
// The rows follow the settings and the Dock as they change. Main thread.
class AppsTab : public QWidget {
 public:
  static constexpr double kTrustCheckSeconds = 1.5;
  static constexpr int kPermissionButtonHeight = 30;
  static constexpr int kAddAppWidth = 150;
  static constexpr int kAddAppHeight = 28;
  static constexpr int kRowIconSize = 32;
  static constexpr int kMenuIconSize = 16;
  // How far the mouse moves with the button down before a row is being dragged.
  static constexpr int kDragThreshold = 4;
  // The default style's segments, left to right.
  static constexpr std::array<BadgeStyle, 3> kSegmentStyles = {BadgeStyle::text, BadgeStyle::circle,
                                                               BadgeStyle::dot};

  explicit AppsTab(SettingsContext& context, QWidget* parent = nullptr);
  ~AppsTab() override;
  AppsTab(const AppsTab&) = delete;
  AppsTab& operator=(const AppsTab&) = delete;

  // The card asking for the accessibility permission (hidden while trusted); null on a platform
  // without that permission.
  QWidget* permissionCard() const;
  CapsuleSegmentedControl* defaultStyleControl() const { return defaultStyle_; }
  PulldownPill* addAppButton() const { return addApp_; }
  // What a press on "Add App" does: builds the menu from the Dock and the list as they are now
  // and pops it up under the field. The menu deletes itself once closed.
  QMenu* popUpAddAppMenu();
  // The menu popped up by the last press while it is open; null otherwise.
  QMenu* addAppMenu() const { return addAppMenu_.data(); }

  int rowCount() const { return static_cast<int>(rows_.size()); }
  // The row's part that is pressed to expand it and dragged to move it.
  QWidget* rowHeader(int index) const;
  // The row's status line as shown ("3 notifications", "Running", ...).
  QString statusText(int index) const;
  // The app whose editor is open; at most one is.
  std::optional<Uuid> expandedApp() const { return expanded_; }
  void setExpandedApp(const std::optional<Uuid>& id);
  // The "No apps yet" placeholder shown instead of the rows.
  QWidget* emptyState() const { return emptyState_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* makePermissionCard();
  QWidget* makeDefaultStyleCard();
  QWidget* makeHeading();
  void refreshTrust();
  void addFromDisk();
  // Brings the rows in line with the list: in place when the apps and their order are the same,
  // otherwise rebuilt (the open editor and keyboard focus stay with their app).
  void showApps(const std::vector<MonitoredApp>& apps);
  void rebuildRows(const std::vector<MonitoredApp>& apps);
  void showDock();
  void moveApp(const Uuid& id, int offset);
  void moveApp(int from, int to);
  int rowIndexOf(const QObject* header) const;
  // Where a row dragged to `y` (list coordinates) would be inserted, 0 … rowCount().
  int insertionIndexAt(int y) const;
  void showDropIndicator(int insertion);
  void endDrag();

  SettingsContext& context_;
  SettingsCard* permissionCard_ = nullptr;
  CapsuleSegmentedControl* defaultStyle_ = nullptr;
  SettingsLabel* countLabel_ = nullptr;
  PulldownPill* addApp_ = nullptr;
  QPointer<QMenu> addAppMenu_;
  QWidget* emptyState_ = nullptr;
  QWidget* list_ = nullptr;
  QVBoxLayout* listLayout_ = nullptr;
  QWidget* dropIndicator_ = nullptr;
  std::vector<AppsTabRow*> rows_;
  std::optional<Uuid> expanded_;

  // The row under the mouse since its press, and whether it is being dragged.
  int pressedRow_ = -1;
  QPoint pressPosition_;
  bool dragging_ = false;

  std::shared_ptr<RepeatingTimer> trustTimer_;
  // Last, so they are dropped first: no notification reaches a half-destroyed tab.
  Subscription appsSubscription_;
  Subscription styleSubscription_;
  Subscription dockSubscription_;
};

}  // namespace lumarin
