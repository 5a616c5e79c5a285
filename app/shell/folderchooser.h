#pragma once
// The folder chooser: Qt's own folder dialog, in which the user may also type the name of a
// folder that does not exist yet. Confirming such a name asks whether to create the folder and,
// on yes, creates it; on no the dialog stays open. A Help button says how it works.

#include "filedialog.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

namespace kivo {

class FolderChooser : public QFileDialog {
  Q_OBJECT
public:
  FolderChooser(QWidget* parent, const QString& caption, const QString& folder);

  /// Asked with the folder's full path before it is created; true creates it. Tests replace it.
  std::function<bool(const QString& folder)> confirmCreate;
  /// Shows the help; tests replace it.
  std::function<void()> showHelp;
  /// Told when a folder cannot be created; tests replace it.
  std::function<void(const QString& text)> showError;

  void accept() override;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QPushButton* choose_ = nullptr;
  QLineEdit* name_ = nullptr;
};

}  // namespace kivo
