#include "realservices.h"

#include "filedialog.h"
#include "folderchooser.h"
#include "folderguard.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace kivo {

namespace {
QWidget* owner() { return QApplication::activeWindow(); }
}  // namespace

// The platform's dialogs may move the current folder to where the user browsed; the program's
// relative paths must not follow, whatever the calling handler does.
std::optional<QString> QtDialogs::chooseFile(const FileRequest& request) {
  CurrentFolderGuard guard;
  QFileDialog dialog(owner(), request.title, request.initialDir, qtFilter(request.filter));
  dialog.setAcceptMode(request.kind == DialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.kind == DialogKind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (request.showHidden) dialog.setFilter(dialog.filter() | QDir::Hidden);
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
}

std::optional<QString> QtDialogs::chooseFolder(const FolderRequest& request) {
  CurrentFolderGuard guard;
  FolderChooser dialog(owner(), request.caption, request.folder);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
}

void QtMessageBoxes::showMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, owner());
  box.exec();
}

void QtMessageBoxes::showError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, kAppTitle, text, QMessageBox::Ok, owner());
  box.exec();
}

Answer QtMessageBoxes::ask(const QString& caption, const QString& text, Buttons buttons, BoxIcon icon) {
  QMessageBox::StandardButtons set;
  switch (buttons) {
  case Buttons::Ok: set = QMessageBox::Ok; break;
  case Buttons::YesNo: set = QMessageBox::Yes | QMessageBox::No; break;
  case Buttons::YesNoCancel: set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
  case Buttons::OkCancel: set = QMessageBox::Ok | QMessageBox::Cancel; break;
  }
  QMessageBox::Icon qicon = QMessageBox::NoIcon;
  switch (icon) {
  case BoxIcon::None: break;
  case BoxIcon::Information: qicon = QMessageBox::Information; break;
  case BoxIcon::Warning: qicon = QMessageBox::Warning; break;
  case BoxIcon::Error: qicon = QMessageBox::Critical; break;
  case BoxIcon::Question: qicon = QMessageBox::Question; break;
  }
  QMessageBox box(qicon, caption.isEmpty() ? kAppTitle : caption, text, set, owner());
  switch (box.exec()) {
  case QMessageBox::Yes: return Answer::Yes;
  case QMessageBox::No: return Answer::No;
  case QMessageBox::Ok: return Answer::Ok;
  default: return Answer::Cancel;
  }
}

}  // namespace kivo
