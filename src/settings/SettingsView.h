#pragma once

#include <QAbstractButton>
#include <QWidget>
#include <vector>

#include "app/SettingsTab.h"
#include "base/Observable.h"
#include "base/Signal.h"
#include "diagnostics/TesterMode.h"

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace lumarin {

struct SettingsContext;

// Which tab the settings window shows. Opening the window for a tab and clicking a sidebar row
// both set it. Main thread.
class SettingsRouter {
 public:
  const Observable<SettingsTab>& selectedTab() const { return selectedTab_; }
  void select(SettingsTab tab) {
    if (*selectedTab_ != tab) {
      selectedTab_.set(tab);
    }
  }

 private:
  Observable<SettingsTab> selectedTab_{SettingsTab::general};
};

// A sidebar row: the tab's icon (a white symbol on a gradient square) and its title, with a
// selected look. Tab reaches it; Space or Return selects it. Main thread.
class SettingsSidebarRow : public QAbstractButton {
 public:
  static constexpr int kHeight = 30;
  static constexpr int kIconSize = 22;

  SettingsSidebarRow(SettingsTab tab, const QString& title, QWidget* parent = nullptr);
  SettingsTab tab() const { return tab_; }
  // The title's font at this width: 13 points, smaller (down to 10) when a long translation
  // would not fit otherwise.
  QFont fittedFont() const;
  // The room the title has beside the icon.
  int titleRoom() const { return width() - kIconSize - 24; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  SettingsTab tab_;
};

// Draws a tab's icon (its symbol in white, semibold, on its gradient) into `rect`.
void drawTabIcon(QPainter& painter, SettingsTab tab, const QRectF& rect);

// The program's icon in the sidebar's footer. Eight quick taps switch tester mode; a red ring
// shows it is on. Main thread.
class TesterIconView : public QWidget {
 public:
  TesterIconView(SettingsContext& context, double size, QWidget* parent = nullptr);
  QSize sizeHint() const override;
  bool ringShown() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  SettingsContext& context_;
  double size_;
  TesterTapCounter taps_;
  Subscription testerSubscription_;
};

// The whole window's content: the sidebar beside the selected tab's title, subtitle and
// content. Rebuilt when the interface language changes. Main thread.
class SettingsView : public QWidget {
 public:
  static constexpr int kSidebarWidth = 194;

  SettingsView(SettingsContext& context, SettingsRouter& router, QWidget* parent = nullptr);
  ~SettingsView() override;

  QScrollArea* contentScroll() const { return scroll_; }
  // The shown tab's content widget.
  QWidget* page() const { return page_; }
  SettingsTab shownTab() const { return shownTab_; }
  const std::vector<SettingsSidebarRow*>& sidebarRows() const { return rows_; }
  TesterIconView* testerIcon() const { return testerIcon_; }
  // Thin scroll bars without a track that take no room from the content.
  void useOverlayScrollers();
  bool usesOverlayScrollers() const { return overlayScrollers_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void buildSidebar();
  void showTab(SettingsTab tab);
  void rebuild();

  SettingsContext& context_;
  SettingsRouter& router_;
  QWidget* sidebar_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QWidget* page_ = nullptr;
  QLabel* title_ = nullptr;
  QLabel* subtitle_ = nullptr;
  TesterIconView* testerIcon_ = nullptr;
  std::vector<SettingsSidebarRow*> rows_;
  SettingsTab shownTab_ = SettingsTab::general;
  bool overlayScrollers_ = false;
  Subscription tabSubscription_;
  Subscription languageSubscription_;
};

}  // namespace lumarin
