#pragma once

#include <QWidget>
#include <memory>

#include "app/SettingsTab.h"
#include "base/Signal.h"

namespace lumarin {

class HUDSettingsSection;
class RepeatingTimer;
class SettingsCard;
struct SettingsContext;

// A tab's content. Tabs that show a permission re-read it every 1.5 seconds, but only while
// they are on screen. Main thread.
class SettingsTabPage : public QWidget {
 public:
  static constexpr double kPollSeconds = 1.5;

  explicit SettingsTabPage(SettingsContext& context, QWidget* parent = nullptr);
  ~SettingsTabPage() override;

  // One tick of the permission timer.
  virtual void poll() {}
  bool isPolling() const;

 protected:
  // Called by tabs that poll, once their content exists.
  void enablePolling() { pollingEnabled_ = true; }
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

  SettingsContext& context_;

 private:
  bool pollingEnabled_ = false;
  std::shared_ptr<RepeatingTimer> timer_;
};

// The content of `tab` (the apps tab is built by AppsTab).
QWidget* makeSettingsTab(SettingsTab tab, SettingsContext& context);

// "Launch at login", the language and the HUD section.
class GeneralTab : public SettingsTabPage {
 public:
  explicit GeneralTab(SettingsContext& context, QWidget* parent = nullptr);
  ~GeneralTab() override;
  void poll() override;
  HUDSettingsSection* hudSection() const { return hud_; }

 private:
  HUDSettingsSection* hud_;
  Subscription launchSubscription_;
};

// The platform's permissions with their "Allow" buttons. A permission the platform does not
// have gets no row; with none at all the tab keeps its place in the sidebar (people look for
// it) and says in one card why there is nothing to allow.
class PermissionsTab : public SettingsTabPage {
 public:
  explicit PermissionsTab(SettingsContext& context, QWidget* parent = nullptr);
  void poll() override;

  // The card saying that this platform needs no permissions; null where it has some.
  QWidget* noPermissionsCard() const { return noPermissionsCard_; }

 private:
  struct Row {
    QWidget* granted = nullptr;
    QWidget* allow = nullptr;
  };
  Row accessibility_{};
  Row capture_{};
  QWidget* noPermissionsCard_ = nullptr;
};

// Sign-in state, sign in / out and the sync switch; follows the account as it changes.
class AccountTab : public SettingsTabPage {
 public:
  explicit AccountTab(SettingsContext& context, QWidget* parent = nullptr);
  ~AccountTab() override;

 private:
  void rebuild();
  SettingsCard* card_ = nullptr;
  Subscription accountSubscription_;
  Subscription syncSubscription_;
};

// The program, its version and link, updates and the two consents.
class AboutTab : public SettingsTabPage {
 public:
  explicit AboutTab(SettingsContext& context, QWidget* parent = nullptr);
  ~AboutTab() override;

 private:
  Subscription crashSubscription_;
  Subscription improveSubscription_;
};

}  // namespace lumarin
