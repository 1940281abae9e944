#include "platform/desktop/QtPanels.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace lumarin {

void QtPanels::runOpenPanel(const OpenPanelRequest& request,
                            std::function<void(std::optional<std::string> url)> completion) {
  // Not modal to a window of ours (the program usually has none open): a dialog of its own
  // that answers when it is done, as the Mac's panel does.
  auto* dialog = new QFileDialog(nullptr, QString::fromStdString(request.message),
                                 QString::fromStdString(request.directory));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                      : QFileDialog::ExistingFile);
  if (request.applicationsOnly) {
    dialog->setNameFilter(QObject::tr("Applications (*.desktop)"));
  }
  auto answered = std::make_shared<bool>(false);
  QObject::connect(dialog, &QFileDialog::urlSelected, dialog,
                   [completion, answered](const QUrl& url) {
                     *answered = true;
                     completion(url.toString().toStdString());
                   });
  QObject::connect(dialog, &QDialog::finished, dialog, [completion, answered](int) {
    if (!*answered) {
      *answered = true;
      completion(std::nullopt);
    }
  });
  dialog->open();
}

void QtPanels::showAboutPanel(const AboutPanelOptions& options) {
  auto* box =
      new QMessageBox(QMessageBox::Information, QString::fromStdString(options.applicationName),
                      QString::fromStdString(options.credits), QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

}  // namespace lumarin
