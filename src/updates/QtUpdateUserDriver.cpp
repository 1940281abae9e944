#include "updates/QtUpdateUserDriver.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

#include "l10n/L10n.h"

namespace lumarin {

namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// A top-level window that reports the user closing it, so the session hears "Later".
class UpdateWindow final : public QWidget {
 public:
  explicit UpdateWindow(std::function<void()> onClose) : onClose_(std::move(onClose)) {
    setWindowFlag(Qt::Dialog);
    setObjectName("updateWindow");
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    onClose_();
    QWidget::closeEvent(event);
  }

 private:
  std::function<void()> onClose_;
};

}  // namespace

struct QtUpdateUserDriver::Widgets {
  std::unique_ptr<UpdateWindow> window;
  QLabel* title = nullptr;
  QLabel* message = nullptr;
  QTextBrowser* notes = nullptr;
  QProgressBar* progress = nullptr;
  QPushButton* primary = nullptr;
  QPushButton* secondary = nullptr;
};

QtUpdateUserDriver::QtUpdateUserDriver(const L10n& l10n) : l10n_(l10n) {}

QtUpdateUserDriver::~QtUpdateUserDriver() = default;

QWidget* QtUpdateUserDriver::window() const { return ui_ ? ui_->window.get() : nullptr; }

// Builds the window on first use and resets it to an empty page with the given answer to
// closing it.
void QtUpdateUserDriver::present(Closing closing) {
  if (!ui_) {
    ui_ = std::make_unique<Widgets>();
    ui_->window = std::make_unique<UpdateWindow>([this] { windowClosed(); });
    auto* layout = new QVBoxLayout(ui_->window.get());
    ui_->title = new QLabel(ui_->window.get());
    ui_->title->setObjectName("updateTitle");
    QFont bold = ui_->title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    ui_->title->setFont(bold);
    ui_->message = new QLabel(ui_->window.get());
    ui_->message->setObjectName("updateMessage");
    ui_->message->setWordWrap(true);
    ui_->notes = new QTextBrowser(ui_->window.get());
    ui_->notes->setObjectName("updateNotes");
    // The notes come from the network: shown, never followed or fetched from.
    ui_->notes->setOpenLinks(false);
    ui_->notes->setMinimumHeight(160);
    ui_->progress = new QProgressBar(ui_->window.get());
    ui_->progress->setObjectName("updateProgress");
    ui_->progress->setRange(0, 0);  // the steps have no measurable length
    ui_->progress->setTextVisible(false);
    ui_->primary = new QPushButton(ui_->window.get());
    ui_->primary->setObjectName("updatePrimary");
    ui_->primary->setDefault(true);
    ui_->secondary = new QPushButton(ui_->window.get());
    ui_->secondary->setObjectName("updateSecondary");
    QObject::connect(ui_->primary, &QPushButton::clicked, [this] { primaryClicked(); });
    QObject::connect(ui_->secondary, &QPushButton::clicked, [this] { secondaryClicked(); });
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(ui_->secondary);
    buttons->addWidget(ui_->primary);
    layout->addWidget(ui_->title);
    layout->addWidget(ui_->message);
    layout->addWidget(ui_->notes, 1);
    layout->addWidget(ui_->progress);
    layout->addLayout(buttons);
    ui_->window->setMinimumWidth(420);
  }
  closing_ = closing;
  ui_->window->setWindowTitle(q(l10n_.string("upd.title")));
  ui_->notes->hide();
  ui_->progress->hide();
  ui_->primary->hide();
  ui_->secondary->hide();
  ui_->message->clear();
}

void QtUpdateUserDriver::showChecking(std::function<void()> cancel) {
  reply_ = nullptr;
  cancel_ = std::move(cancel);
  present(Closing::cancel);
  ui_->title->setText(q(l10n_.string("upd.checking")));
  ui_->progress->show();
  ui_->secondary->setText(q(l10n_.string("common.cancel")));
  ui_->secondary->show();
  ui_->window->show();
}

void QtUpdateUserDriver::showUpToDate(const std::string& currentVersion) {
  reply_ = nullptr;
  cancel_ = nullptr;
  present(Closing::nothing);
  ui_->title->setText(q(l10n_.string("upd.upToDate")));
  ui_->message->setText(q(l10n_.format("upd.upToDateDetail", {currentVersion})));
  ui_->primary->setText(q(l10n_.string("common.done")));
  ui_->primary->show();
  ui_->window->show();
}

void QtUpdateUserDriver::showUpdateAvailable(const UpdateOffer& offer,
                                             std::function<void(UpdateChoice)> reply) {
  cancel_ = nullptr;
  reply_ = std::move(reply);
  present(Closing::later);
  ui_->title->setText(q(l10n_.string("upd.available")));
  ui_->message->setText(
      q(l10n_.format("upd.availableDetail", {offer.version, offer.currentVersion})));
  if (!offer.releaseNotes.empty()) {
    ui_->notes->setHtml(q(offer.releaseNotes));
    ui_->notes->show();
  }
  ui_->primary->setText(q(l10n_.string("upd.install")));
  ui_->secondary->setText(q(l10n_.string("common.later")));
  ui_->primary->show();
  ui_->secondary->show();
  ui_->window->show();
  ui_->window->raise();
}

void QtUpdateUserDriver::showProgress(UpdatePhase phase) {
  cancel_ = nullptr;
  reply_ = nullptr;
  present(Closing::nothing);
  const char* key = phase == UpdatePhase::downloading ? "upd.downloading"
                    : phase == UpdatePhase::verifying ? "upd.verifying"
                                                      : "upd.installing";
  ui_->title->setText(q(l10n_.string(key)));
  ui_->progress->show();
  ui_->window->show();
}

void QtUpdateUserDriver::showError(UpdateFailure failure) {
  cancel_ = nullptr;
  reply_ = nullptr;
  present(Closing::nothing);
  ui_->title->setText(q(l10n_.string("upd.errorTitle")));
  ui_->message->setText(q(l10n_.string(failureMessageKey(failure))));
  ui_->primary->setText(q(l10n_.string("common.done")));
  ui_->primary->show();
  ui_->window->show();
  ui_->window->raise();
}

void QtUpdateUserDriver::dismiss() {
  cancel_ = nullptr;
  reply_ = nullptr;
  closing_ = Closing::nothing;
  if (ui_) {
    ui_->window->hide();
  }
}

void QtUpdateUserDriver::primaryClicked() {
  if (auto reply = std::exchange(reply_, nullptr)) {
    closing_ = Closing::nothing;
    reply(UpdateChoice::install);
    return;
  }
  dismiss();
}

void QtUpdateUserDriver::secondaryClicked() {
  if (auto reply = std::exchange(reply_, nullptr)) {
    closing_ = Closing::nothing;
    ui_->window->hide();
    reply(UpdateChoice::later);
    return;
  }
  if (auto cancel = std::exchange(cancel_, nullptr)) {
    closing_ = Closing::nothing;
    ui_->window->hide();
    cancel();
    return;
  }
  dismiss();
}

void QtUpdateUserDriver::windowClosed() {
  const auto closing = std::exchange(closing_, Closing::nothing);
  if (closing == Closing::later) {
    if (auto reply = std::exchange(reply_, nullptr)) {
      reply(UpdateChoice::later);
    }
  } else if (closing == Closing::cancel) {
    if (auto cancel = std::exchange(cancel_, nullptr)) {
      cancel();
    }
  }
}

}  // namespace lumarin
