#include "settings/HUDSettingsSection.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/ScreenCapture.h"
#include "settings/SettingsComponents.h"
#include "settings/SettingsContext.h"
#include "ui/ConsentSwitch.h"
#include "ui/PillButton.h"
#include "ui/SettingsPillButton.h"

namespace lumarin {

namespace {

constexpr int kButtonHeight = 28;

QString localized(const SettingsContext& context, const char* key) {
  return QString::fromStdString(context.l10n.string(key));
}

}  // namespace

HUDSettingsSection::HUDSettingsSection(SettingsContext& context, QWidget* parent)
    : QWidget(parent),
      context_(context),
      captureGranted_(context.screenCapture == nullptr ||
                      context.screenCapture->preflightAccess()) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* card = new SettingsCard(this);
  outer->addWidget(card);
  card->rows()->setSpacing(14);

  auto* follow = new ConsentSwitch(localized(context, "menu.mirrorHUDFollowCC"),
                                   *context.settings.mirrorHUDFollowsControlCenter());
  QObject::connect(follow, &QAbstractButton::toggled, follow, [&context](bool on) {
    if (*context.settings.mirrorHUDFollowsControlCenter() != on) {
      context.settings.setMirrorHUDFollowsControlCenter(on);
    }
  });
  followSubscription_ = context.settings.mirrorHUDFollowsControlCenter().observe(
      [follow](bool on) { follow->setChecked(on); });
  card->addRow(new SettingsRow(localized(context, "menu.mirrorHUDFollowCC"),
                               localized(context, "hud.followCCSub"), follow));
  card->addDivider();

  auto* keys = new QWidget();
  auto* keyLayout = new QHBoxLayout(keys);
  keyLayout->setContentsMargins(0, 0, 0, 0);
  keyLayout->setSpacing(10);
  keyLayout->addWidget(new KeyCapLabel(QStringLiteral("⌃⌥⌘M"), keys));
  auto* showNow = new SettingsPillButton(localized(context, "hud.showNow"), false, [&context] {
    if (context.toggleHUD) {
      context.toggleHUD("menu");
    }
  });
  showNow->setFixedHeight(kButtonHeight);
  showNow->button()->setAccessibleName(localized(context, "hud.showNow"));
  keyLayout->addWidget(showNow);
  keys->setAccessibleName(localized(context, "hud.hotkey"));
  card->addRow(
      new SettingsRow(localized(context, "hud.hotkey"), localized(context, "hud.hotkeySub"), keys));
  if (context.screenCapture == nullptr) {
    return;
  }

  captureDivider_ = new RowDivider();
  card->addRow(captureDivider_);
  auto* allow = new SettingsPillButton(localized(context, "common.grant"), true, [&context] {
    if (context.requestScreenRecording) {
      context.requestScreenRecording();
    }
  });
  allow->setFixedHeight(kButtonHeight);
  allow->button()->setAccessibleName(localized(context, "onb.permCap") + ": " +
                                     localized(context, "common.grant"));
  captureRow_ = new SettingsRow(localized(context, "onb.permCap"),
                                localized(context, "hud.captureNote"), allow);
  card->addRow(captureRow_);
  captureRow_->setVisible(!captureGranted_);
  captureDivider_->setVisible(!captureGranted_);
}

HUDSettingsSection::~HUDSettingsSection() = default;

void HUDSettingsSection::poll() {
  if (context_.screenCapture == nullptr) {
    return;
  }
  captureGranted_ = context_.screenCapture->preflightAccess();
  captureRow_->setVisible(!captureGranted_);
  captureDivider_->setVisible(!captureGranted_);
}

}  // namespace lumarin
