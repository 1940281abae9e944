#include "settings/SettingsTabs.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>

#include "cloud/CloudAccount.h"
#include "cloud/CloudSync.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/Accessibility.h"
#include "platform/Bundle.h"
#include "platform/Scheduler.h"
#include "platform/ScreenCapture.h"
#include "platform/Workspace.h"
#include "settings/AppsTab.h"
#include "settings/HUDSettingsSection.h"
#include "settings/SettingsComponents.h"
#include "settings/SettingsContext.h"
#include "ui/AppIconView.h"
#include "ui/ConsentSwitch.h"
#include "ui/PillButton.h"
#include "ui/PulldownPill.h"
#include "ui/SettingsDropdown.h"
#include "ui/SettingsPillButton.h"
#include "updates/UpdaterController.h"

namespace lumarin {

namespace {

constexpr int kPermissionButtonHeight = 30;

QString text(const SettingsContext& context, const char* key) {
  return QString::fromStdString(context.l10n.string(key));
}

QVBoxLayout* column(QWidget* page) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(14);
  return layout;
}

// A switch that writes through `set` when flipped and follows `value` when it changes
// elsewhere (sync, another window).
ConsentSwitch* boundSwitch(const QString& name, const Observable<bool>& value,
                           std::function<void(bool)> set, Subscription& subscription) {
  auto* toggle = new ConsentSwitch(name, *value);
  QObject::connect(toggle, &QAbstractButton::toggled, toggle,
                   [&value, set = std::move(set)](bool on) {
                     if (*value != on) {
                       set(on);
                     }
                   });
  subscription = value.observe([toggle](bool on) { toggle->setChecked(on); });
  return toggle;
}

SettingsPillButton* pill(const QString& title, bool filled, int height,
                         std::function<void()> action) {
  auto* button = new SettingsPillButton(title, filled, std::move(action));
  button->button()->setAccessibleName(title);
  if (height > 0) {
    button->setFixedHeight(height);
  }
  return button;
}

}  // namespace

SettingsTabPage::SettingsTabPage(SettingsContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {}

SettingsTabPage::~SettingsTabPage() {
  if (timer_) {
    timer_->cancel();
  }
}

bool SettingsTabPage::isPolling() const { return timer_ && timer_->isActive(); }

void SettingsTabPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (pollingEnabled_ && !timer_) {
    QPointer<SettingsTabPage> self(this);
    timer_ = context_.scheduler.mainQueue().scheduleRepeating(seconds(kPollSeconds),
                                                              Duration::zero(), [self] {
                                                                if (self) {
                                                                  self->poll();
                                                                }
                                                              });
    poll();
  }
}

void SettingsTabPage::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (timer_) {
    timer_->cancel();
    timer_.reset();
  }
}

QWidget* makeSettingsTab(SettingsTab tab, SettingsContext& context) {
  switch (tab) {
    case SettingsTab::general:
      return new GeneralTab(context);
    case SettingsTab::permissions:
      return new PermissionsTab(context);
    case SettingsTab::apps:
      return new AppsTab(context);
    case SettingsTab::account:
      return new AccountTab(context);
    case SettingsTab::about:
      return new AboutTab(context);
  }
  return new GeneralTab(context);
}

// ---------------------------------------------------------------------------------------

GeneralTab::GeneralTab(SettingsContext& context, QWidget* parent)
    : SettingsTabPage(context, parent) {
  auto* layout = column(this);
  auto* card = new SettingsCard(this);
  AppSettings& settings = context.settings;
  auto* launch = boundSwitch(
      text(context, "set.launchAtLogin"), settings.launchAtLogin(),
      [&settings](bool on) { settings.setLaunchAtLogin(on); }, launchSubscription_);
  card->addRow(new SettingsRow(text(context, "set.launchAtLogin"), {}, launch));
  card->addDivider();
  std::vector<SettingsDropdown::Option> languages;
  for (const auto& [code, label] : context.l10n.pickerOptions()) {
    languages.push_back({QString::fromStdString(code), QString::fromStdString(label)});
  }
  auto* language = new SettingsDropdown(
      std::move(languages), QString::fromStdString(settings.languageCode()->value_or("")));
  language->setAccessibleName(text(context, "set.language"));
  language->pill()->setAccessibleName(text(context, "set.language"));
  // The view is rebuilt in the new language once the change has been applied, so the
  // selection is written on the next turn rather than under this dropdown's own menu.
  language->setOnSelectionChanged([&settings, &context](const QString& code) {
    std::optional<std::string> value;
    if (!code.isEmpty()) {
      value = code.toStdString();
    }
    context.scheduler.mainQueue().post([&settings, value] { settings.setLanguageCode(value); });
  });
  card->addRow(new SettingsRow(text(context, "set.language"), {}, language));
  layout->addWidget(card);

  layout->addSpacing(6);
  layout->addWidget(new SettingsLabel(text(context, "tab.hud"), SettingsText::heading, this));
  layout->addWidget(new SettingsLabel(text(context, "sub.hud"), SettingsText::secondary, this));
  hud_ = new HUDSettingsSection(context, this);
  layout->addWidget(hud_);
  layout->addStretch(1);
  // The only thing this tab re-reads is the screen-recording permission.
  if (context.screenCapture != nullptr) {
    enablePolling();
  }
}

GeneralTab::~GeneralTab() = default;

void GeneralTab::poll() { hud_->poll(); }

// ---------------------------------------------------------------------------------------

PermissionsTab::PermissionsTab(SettingsContext& context, QWidget* parent)
    : SettingsTabPage(context, parent) {
  auto* layout = column(this);
  if (context.accessibility == nullptr && context.screenCapture == nullptr) {
    // An empty tab would look broken; it says why there is nothing here instead.
    auto* card = new SettingsCard(this);
    card->addRow(
        new SettingsRow(text(context, "perm.noneTitle"), text(context, "perm.noneBody"), nullptr));
    card->setAccessibleName(text(context, "perm.noneTitle"));
    noPermissionsCard_ = card;
    layout->addWidget(card);
    layout->addStretch(1);
    return;
  }
  auto* card = new SettingsCard(this);
  auto permissionRow = [&](const char* titleKey, const char* bodyKey,
                           std::function<void()> request) {
    auto* control = new QWidget();
    auto* stack = new QHBoxLayout(control);
    stack->setContentsMargins(0, 0, 0, 0);
    auto* granted = new SettingsLabel(text(context, "common.granted"), SettingsText::secondary);
    granted->setWordWrap(false);
    auto* allow =
        pill(text(context, "common.grant"), true, kPermissionButtonHeight, std::move(request));
    allow->button()->setAccessibleName(text(context, titleKey) + ": " +
                                       text(context, "common.grant"));
    stack->addWidget(granted);
    stack->addWidget(allow);
    control->setAccessibleName(text(context, titleKey));
    card->addRow(new SettingsRow(text(context, titleKey), text(context, bodyKey), control));
    return Row{granted, allow};
  };
  if (context.accessibility != nullptr) {
    accessibility_ = permissionRow("perm.ax", "perm.axBody", [&context] {
      if (context.requestAccessibility) {
        context.requestAccessibility();
      }
    });
  }
  if (context.accessibility != nullptr && context.screenCapture != nullptr) {
    card->addDivider();
  }
  if (context.screenCapture != nullptr) {
    capture_ = permissionRow("onb.permCap", "perm.capBody", [&context] {
      if (context.requestScreenRecording) {
        context.requestScreenRecording();
      }
    });
  }
  layout->addWidget(card);
  layout->addWidget(new SettingsLabel(text(context, "perm.footer"), SettingsText::footer, this));
  layout->addStretch(1);
  poll();
  enablePolling();
}

void PermissionsTab::poll() {
  if (context_.accessibility != nullptr) {
    const bool trusted = context_.accessibility->isProcessTrusted();
    accessibility_.granted->setVisible(trusted);
    accessibility_.allow->setVisible(!trusted);
  }
  if (context_.screenCapture != nullptr) {
    const bool capture = context_.screenCapture->preflightAccess();
    capture_.granted->setVisible(capture);
    capture_.allow->setVisible(!capture);
  }
}

// ---------------------------------------------------------------------------------------

AccountTab::AccountTab(SettingsContext& context, QWidget* parent)
    : SettingsTabPage(context, parent) {
  auto* layout = column(this);
  rebuild();
  layout->addWidget(new SettingsLabel(text(context, "acct.footer"), SettingsText::footer, this));
  layout->addStretch(1);
  if (context.account != nullptr) {
    QPointer<AccountTab> self(this);
    accountSubscription_ = context.account->state().observe([self](const AccountState&) {
      if (self) {
        self->rebuild();
      }
    });
  }
}

AccountTab::~AccountTab() = default;

void AccountTab::rebuild() {
  // The old card's switch goes with the old card.
  syncSubscription_.reset();
  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  auto* card = new SettingsCard(this);
  CloudAccount* account = context_.account;
  const AccountState state = account != nullptr ? *account->state() : AccountState{};
  if (!state.signedIn) {
    auto* signIn = pill(text(context_, "acct.signIn"), true, 0, [account] {
      if (account != nullptr) {
        account->signIn();
      }
    });
    signIn->setEnabled(account != nullptr);
    card->addRow(new SettingsRow(text(context_, "acct.signedOutTitle"),
                                 text(context_, "acct.signedOutBody"), signIn));
  } else {
    auto* signOut =
        pill(text(context_, "acct.signOut"), false, 0, [account] { account->signOut(); });
    card->addRow(new SettingsRow(text(context_, "acct.signedIn"),
                                 QString::fromStdString(state.email), signOut));
    card->addDivider();
    if (CloudSync* sync = context_.sync) {
      auto* toggle = boundSwitch(
          text(context_, "acct.sync"), sync->enabled(), [sync](bool on) { sync->setEnabled(on); },
          syncSubscription_);
      card->addRow(
          new SettingsRow(text(context_, "acct.sync"), text(context_, "acct.syncBody"), toggle));
    }
  }
  if (card_ != nullptr) {
    delete layout->replaceWidget(card_, card);  // the old card's item is ours
    card_->deleteLater();
    card_->hide();
  } else {
    layout->insertWidget(0, card);
  }
  card_ = card;
}

// ---------------------------------------------------------------------------------------

AboutTab::AboutTab(SettingsContext& context, QWidget* parent) : SettingsTabPage(context, parent) {
  auto* layout = column(this);
  const QString version =
      QString::fromStdString(context.bundle.infoString("CFBundleShortVersionString").value_or("?"));

  auto* product = new SettingsCard(this);
  auto* header = new QWidget();
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(0, 4, 0, 4);
  headerRow->setSpacing(14);
  headerRow->addWidget(new AppIconView(56, header), 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout();
  texts->setSpacing(3);
  texts->addWidget(new SettingsLabel(QStringLiteral("Lumarin"), SettingsText::title, header));
  texts->addWidget(new SettingsLabel(text(context, "about.tagline"), SettingsText::body, header));
  texts->addWidget(new SettingsLabel(
      QString::fromStdString(context.l10n.format("about.version", {version.toStdString()})),
      SettingsText::secondary, header));
  const QString url = QString::fromStdString(context.productPageURL);
  auto* link = new PillButton(QUrl(url).host() + QUrl(url).path(), false, header);
  link->setAccessibleName(url);
  QObject::connect(link, &QAbstractButton::clicked, link,
                   [&context] { (void)context.workspace.openURL(context.productPageURL); });
  texts->addWidget(link, 0, Qt::AlignLeft);
  texts->addWidget(
      new SettingsLabel(text(context, "about.copyright"), SettingsText::footer, header));
  headerRow->addLayout(texts, 1);
  product->addRow(header);
  layout->addWidget(product);

  auto* options = new SettingsCard(this);
  UpdaterController* updater = context.updater ? context.updater() : nullptr;
  auto* updates = new QWidget();
  auto* updateRow = new QHBoxLayout(updates);
  updateRow->setContentsMargins(0, 0, 0, 0);
  updateRow->setSpacing(10);
  auto* check = pill(text(context, "common.checkNow"), false, 0, [&context] {
    if (UpdaterController* current = context.updater ? context.updater() : nullptr) {
      current->checkForUpdates();
    }
  });
  auto* automatic =
      new ConsentSwitch(text(context, "set.autoUpdate"),
                        updater != nullptr && updater->automaticallyChecksForUpdates());
  QObject::connect(automatic, &QAbstractButton::toggled, automatic, [&context](bool on) {
    if (UpdaterController* current = context.updater ? context.updater() : nullptr) {
      current->setAutomaticallyChecksForUpdates(on);
    }
  });
  // Without a feed there is nothing to check or schedule.
  check->setEnabled(updater != nullptr);
  automatic->setEnabled(updater != nullptr);
  updateRow->addWidget(check);
  updateRow->addWidget(automatic);
  updates->setAccessibleName(text(context, "set.autoUpdate"));
  options->addRow(new SettingsRow(text(context, "set.autoUpdate"),
                                  text(context, "set.autoUpdateSub"), updates));
  options->addDivider();
  AppSettings& settings = context.settings;
  options->addRow(new SettingsRow(
      text(context, "set.crash"), text(context, "set.crashSub"),
      boundSwitch(
          text(context, "set.crash"), settings.crashReportingEnabled(),
          [&settings](bool on) { settings.setCrashReportingEnabled(on); }, crashSubscription_)));
  options->addDivider();
  options->addRow(new SettingsRow(
      text(context, "priv.improve"), text(context, "priv.improveSub"),
      boundSwitch(
          text(context, "priv.improve"), settings.improveDataSharing(),
          [&settings](bool on) { settings.setImproveDataSharing(on); }, improveSubscription_)));
  layout->addWidget(options);
  layout->addStretch(1);
}

AboutTab::~AboutTab() = default;

}  // namespace lumarin
