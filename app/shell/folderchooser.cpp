#include "folderchooser.h"

#include "services.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

namespace kivo {

FolderChooser::FolderChooser(QWidget* parent, const QString& caption, const QString& folder)
    : QFileDialog(parent, caption, folder) {
  setObjectName(QStringLiteral("folderChooser"));
  // Qt's own dialog: a desktop's dialog would refuse a folder that does not exist yet and has no
  // place for the Help button.
  setOption(QFileDialog::DontUseNativeDialog);
  setFileMode(QFileDialog::Directory);
  setOption(QFileDialog::ShowDirsOnly);
  confirmCreate = [this](const QString&) {
    return QMessageBox::question(this, QStringLiteral("Confirm"), kCreateFolderQuestion, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
  };
  showHelp = [this] {
    QMessageBox::information(this, kAppTitle,
                             QStringLiteral("Pick a folder in the list and click Choose.\n\n"
                                            "To use a new folder, type its name and click Choose: "
                                            "you are asked whether to create it."));
  };
  showError = [this](const QString& text) { QMessageBox::warning(this, kAppTitle, text); };
  if (auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
    QPushButton* help = box->addButton(QDialogButtonBox::Help);
    help->setObjectName(QStringLiteral("help"));
    connect(box, &QDialogButtonBox::helpRequested, this, [this] { showHelp(); });
    choose_ = box->button(QDialogButtonBox::Open);
  }
  // Qt greys out Choose while the typed name is no existing folder; here any name will do.
  name_ = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (choose_ && name_) choose_->installEventFilter(this);
}

bool FolderChooser::eventFilter(QObject* watched, QEvent* event) {
  if (watched == choose_ && event->type() == QEvent::EnabledChange && !choose_->isEnabled() &&
      !name_->text().trimmed().isEmpty())
    QMetaObject::invokeMethod(choose_, [button = choose_] { button->setEnabled(true); }, Qt::QueuedConnection);
  return QFileDialog::eventFilter(watched, event);
}

void FolderChooser::accept() {
  // Qt's dialog turns away a name that does not exist; here it is the way to make a folder.
  const QStringList chosen = selectedFiles();
  if (chosen.size() == 1 && !chosen.first().isEmpty() && !QFileInfo::exists(chosen.first())) {
    const QString folder = QDir::cleanPath(chosen.first());
    if (!confirmCreate(folder)) return;  // stay, so the name can be corrected
    if (!QDir().mkpath(folder)) {
      showError(QStringLiteral("Unable to create directory %1").arg(QDir::toNativeSeparators(folder)));
      return;
    }
  }
  QFileDialog::accept();
}

}  // namespace kivo
