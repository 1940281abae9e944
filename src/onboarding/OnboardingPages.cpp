#include "onboarding/OnboardingPages.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "onboarding/OKLabel.h"
#include "platform/Accessibility.h"
#include "platform/ScreenCapture.h"
#include "ui/ConsentSwitch.h"
#include "ui/PillButton.h"
#include "ui/SystemSymbols.h"
#include "ui/Theme.h"

namespace lumarin {
namespace {

using Role = OKLabel::Role;

QString text(const L10n& l10n, std::string_view key) {
  return QString::fromStdString(l10n.string(key));
}

// A symbol of the pages in the accent colour. The few the pages name are drawn here; any other
// comes from the kit's system symbols.
class SymbolView : public QWidget {
 public:
  SymbolView(QString name, int size, QWidget* parent = nullptr)
      : QWidget(parent), name_(std::move(name)) {
    setFixedSize(size, size);
    setAccessibleName(name_);
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor accent = Theme::accent().resolve(effectiveAppearance(this));
    const double s = width();
    QPen pen(accent, std::max(1.5, s / 14));
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF box(s * 0.1, s * 0.2, s * 0.8, s * 0.6);
    if (name_ == QLatin1String("rectangle.grid.3x2")) {
      const double w = box.width() / 3;
      const double h = box.height() / 2;
      for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
          p.drawRoundedRect(QRectF(box.left() + c * w + 1, box.top() + r * h + 1, w - 2, h - 2), 2,
                            2);
        }
      }
    } else if (name_ == QLatin1String("cursorarrow.click.2")) {
      QPainterPath arrow;
      arrow.moveTo(s * 0.35, s * 0.3);
      arrow.lineTo(s * 0.35, s * 0.85);
      arrow.lineTo(s * 0.5, s * 0.7);
      arrow.lineTo(s * 0.62, s * 0.92);
      arrow.lineTo(s * 0.7, s * 0.87);
      arrow.lineTo(s * 0.58, s * 0.66);
      arrow.lineTo(s * 0.78, s * 0.64);
      arrow.closeSubpath();
      p.drawPath(arrow);
      p.drawLine(QPointF(s * 0.35, s * 0.08), QPointF(s * 0.35, s * 0.18));
      p.drawLine(QPointF(s * 0.12, s * 0.3), QPointF(s * 0.22, s * 0.3));
      p.drawLine(QPointF(s * 0.52, s * 0.13), QPointF(s * 0.45, s * 0.2));
    } else if (name_ == QLatin1String("menubar.rectangle")) {
      p.drawRoundedRect(box, 3, 3);
      p.drawLine(QPointF(box.left(), box.top() + box.height() * 0.3),
                 QPointF(box.right(), box.top() + box.height() * 0.3));
    } else if (name_ == QLatin1String("photo.on.rectangle")) {
      p.drawRoundedRect(box.adjusted(s * 0.08, 0, 0, -s * 0.08), 3, 3);
      const QRectF front = box.adjusted(0, s * 0.08, -s * 0.08, 0);
      p.setBrush(Theme::surfaceCard().resolve(effectiveAppearance(this)));
      p.drawRoundedRect(front, 3, 3);
      QPainterPath hill;
      hill.moveTo(front.left() + 2, front.bottom() - 2);
      hill.lineTo(front.center().x() - 2, front.center().y());
      hill.lineTo(front.right() - 2, front.bottom() - 2);
      p.drawPath(hill);
    } else {
      const QImage image = systemSymbol(name_, s * 0.7, QFont::Medium, devicePixelRatioF());
      const QImage tinted = tintedTemplate(image, accent);
      const QSizeF natural = naturalSize(tinted);
      p.drawImage(QRectF(QPointF((s - natural.width()) / 2, (s - natural.height()) / 2), natural),
                  tinted);
    }
  }

 private:
  QString name_;
};

QVBoxLayout* pageLayout(QWidget* page) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(14);
  return layout;
}

void addHeader(QVBoxLayout* layout, const QString& title, const QString& body) {
  auto* titleLabel = new OKLabel(title, 20, QFont::Bold, Role::primary, true);
  titleLabel->setAlignment(Qt::AlignHCenter);
  titleLabel->setAccessibleName(title);
  layout->addWidget(titleLabel);
  if (!body.isEmpty()) {
    auto* bodyLabel = new OKLabel(body, 13, QFont::Normal, Role::secondary, true);
    bodyLabel->setAlignment(Qt::AlignHCenter);
    bodyLabel->setAccessibleName(body);
    layout->addWidget(bodyLabel);
  }
  layout->addSpacing(6);
}

// An icon beside a title and, when given, a line of explanation; `trailing` goes at the end.
QWidget* row(const QString& symbol, const QString& title, const QString& body,
             QWidget* trailing = nullptr) {
  auto* widget = new QWidget;
  auto* layout = new QHBoxLayout(widget);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(12);
  if (!symbol.isEmpty()) {
    layout->addWidget(new SymbolView(symbol, 28), 0, Qt::AlignTop);
  }
  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  auto* titleLabel = new OKLabel(title, 13, QFont::DemiBold, Role::primary, true);
  titleLabel->setAccessibleName(title);
  texts->addWidget(titleLabel);
  if (!body.isEmpty()) {
    auto* bodyLabel = new OKLabel(body, 11, QFont::Normal, Role::secondary, true);
    bodyLabel->setAccessibleName(body);
    texts->addWidget(bodyLabel);
  }
  layout->addLayout(texts, 1);
  if (trailing != nullptr) {
    layout->addWidget(trailing, 0, Qt::AlignVCenter);
  }
  return widget;
}

// "Allowed" when the permission is there, else an "Allow" button that asks for it.
class PermissionState : public QWidget {
 public:
  PermissionState(const L10n& l10n, const QString& permission, std::function<void()> request)
      : granted_(new OKLabel(text(l10n, "common.granted"), 11, QFont::DemiBold, Role::secondary,
                             false, this)),
        allow_(new PillButton(text(l10n, "common.grant"), true, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(granted_);
    layout->addWidget(allow_);
    granted_->setAccessibleName(permission + QStringLiteral(": ") + granted_->text());
    allow_->setAccessibleName(allow_->titleText() + QStringLiteral(" — ") + permission);
    QObject::connect(allow_, &PillButton::clicked, this, [request = std::move(request)] {
      if (request) {
        request();
      }
    });
  }
  void setGranted(bool granted) {
    granted_->setVisible(granted);
    allow_->setVisible(!granted);
  }

 private:
  OKLabel* granted_;
  PillButton* allow_;
};

// The rows of the permissions the platform has; one without the other keeps its own row.
class PermissionsPage : public QWidget, public OKLivePage {
 public:
  explicit PermissionsPage(const OnboardingPageContext& context)
      : accessibility_(context.accessibility), screenCapture_(context.screenCapture) {
    const L10n& l10n = context.l10n;
    auto* layout = pageLayout(this);
    addHeader(layout, text(l10n, "onb.permTitle"), text(l10n, "onb.permBody"));
    if (accessibility_ != nullptr) {
      const QString ax = text(l10n, "onb.permAX");
      axState_ = new PermissionState(l10n, ax, context.requestAccessibility);
      layout->addWidget(
          row(QStringLiteral("menubar.rectangle"), ax, text(l10n, "onb.permAXBody"), axState_));
    }
    if (screenCapture_ != nullptr) {
      const QString cap = text(l10n, "onb.permCap");
      capState_ = new PermissionState(l10n, cap, context.requestScreenRecording);
      layout->addWidget(
          row(QStringLiteral("photo.on.rectangle"), cap, text(l10n, "onb.permCapBody"), capState_));
    }
    PermissionsPage::refresh();
  }
  void refresh() override {
    if (axState_ != nullptr) {
      axState_->setGranted(accessibility_->isProcessTrusted());
    }
    if (capState_ != nullptr) {
      capState_->setGranted(screenCapture_->preflightAccess());
    }
  }

 private:
  Accessibility* accessibility_;
  ScreenCapture* screenCapture_;
  PermissionState* axState_ = nullptr;
  PermissionState* capState_ = nullptr;
};

// A consent with its switch; flipping it writes the setting, which persists at once.
QWidget* consentRow(const QString& title, const QString& body, const Observable<bool>& setting,
                    std::function<void(bool)> write) {
  auto* toggle = new ConsentSwitch(title, *setting);
  QObject::connect(toggle, &ConsentSwitch::toggled, toggle,
                   [write = std::move(write)](bool on) { write(on); });
  // Follows changes made elsewhere (the settings window, a sync) while the page is open.
  auto subscription = std::make_shared<Subscription>(setting.observe([toggle](const bool& on) {
    if (toggle->isChecked() != on) {
      toggle->setChecked(on);
    }
  }));
  QObject::connect(toggle, &QObject::destroyed, [subscription]() mutable { subscription.reset(); });
  return row(QString(), title, body, toggle);
}

}  // namespace

std::vector<OKStep> makeOnboardingSteps(const OnboardingPageContext& context) {
  const L10n& l10n = context.l10n;
  std::vector<OKStep> steps;

  {
    OKStep step;
    step.kind = OKStep::Kind::welcome;
    step.content = std::make_unique<QWidget>();
    auto* layout = pageLayout(step.content.get());
    addHeader(layout, text(l10n, "onb.welcomeTitle"), text(l10n, "onb.welcomeBody"));
    layout->addWidget(row(QStringLiteral("rectangle.grid.3x2"), text(l10n, "onb.point1Title"), {}));
    layout->addWidget(
        row(QStringLiteral("cursorarrow.click.2"), text(l10n, "onb.point2Title"), {}));
    layout->addWidget(row(QStringLiteral("app.badge"), text(l10n, "onb.point3Title"), {}));
    steps.push_back(std::move(step));
  }
  if (context.accessibility != nullptr || context.screenCapture != nullptr) {
    OKStep step;
    step.kind = OKStep::Kind::permissions;
    step.content = std::make_unique<PermissionsPage>(context);
    if (Accessibility* accessibility = context.accessibility) {
      step.requiredGranted = [accessibility] { return accessibility->isProcessTrusted(); };
    }
    step.skippable = true;
    steps.push_back(std::move(step));
  }
  {
    OKStep step;
    step.kind = OKStep::Kind::tutorial;
    step.content = std::make_unique<QWidget>();
    auto* layout = pageLayout(step.content.get());
    addHeader(layout, text(l10n, "onb.usageTitle"), text(l10n, "onb.usageBody"));
    layout->addWidget(row(QStringLiteral("menubar.rectangle"), text(l10n, "onb.usage1Title"),
                          text(l10n, "onb.usage1Body")));
    layout->addWidget(row(QStringLiteral("cursorarrow.click.2"), text(l10n, "onb.usage2Title"),
                          text(l10n, "onb.usage2Body")));
    layout->addWidget(row(QStringLiteral("app.badge"), text(l10n, "onb.usage3Title"),
                          text(l10n, "onb.usage3Body")));
    steps.push_back(std::move(step));
  }
  {
    OKStep step;
    step.kind = OKStep::Kind::consent;
    step.content = std::make_unique<QWidget>();
    auto* layout = pageLayout(step.content.get());
    addHeader(layout, text(l10n, "onb.readyTitle"), {});
    AppSettings& settings = context.settings;
    layout->addWidget(consentRow(text(l10n, "onb.improveTitle"), text(l10n, "onb.improveBody"),
                                 settings.improveDataSharing(),
                                 [&settings](bool on) { settings.setImproveDataSharing(on); }));
    layout->addWidget(consentRow(text(l10n, "onb.crashTitle"), text(l10n, "onb.crashBody"),
                                 settings.crashReportingEnabled(),
                                 [&settings](bool on) { settings.setCrashReportingEnabled(on); }));
    steps.push_back(std::move(step));
  }
  return steps;
}

}  // namespace lumarin
