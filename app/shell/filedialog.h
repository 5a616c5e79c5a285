#pragma once
// An open or save dialog that keeps its own current file name, as the pages expect: the last
// name confirmed in it, else its preset, else empty. Handlers read fileName() whether the user
// confirmed or cancelled.

#include "services.h"

namespace kivo {

class FileDialog {
public:
  FileDialog(DialogBackend& backend, DialogKind kind, QString title = {}, QString filter = {},
             QString defaultExt = {});

  /// Shows the dialog; true when the user confirmed a name.
  bool execute();

  QString fileName() const { return fileName_; }
  void setFileName(const QString& name) { fileName_ = name; }
  QString initialDir() const { return initialDir_; }
  void setInitialDir(const QString& dir) { initialDir_ = dir; }
  void setShowHidden(bool on) { showHidden_ = on; }

  DialogKind kind() const { return kind_; }
  const QString& title() const { return title_; }
  const QString& filter() const { return filter_; }
  const QString& defaultExt() const { return defaultExt_; }

private:
  DialogBackend& backend_;
  DialogKind kind_;
  QString title_, filter_, defaultExt_, fileName_, initialDir_;
  QString lastFolder_;  ///< where the last name confirmed in this dialog lies
  bool showHidden_ = false;
};

/// Where a dialog without a folder of its own opens until the user has confirmed a name in it:
/// empty for the current folder (the program folder, as described), or another folder.
void setDialogStartFolder(const QString& folder);
QString dialogStartFolder();
/// For a Kivo working from a user's copy of its program folder (an installed one), the user's
/// home folder: the copy is a hidden folder of links that nobody browses from. Else empty.
QString dialogStartFolder(const QString& programFolder, const QString& workingFolder);

/// What the folder chooser asks before it creates a folder the user typed.
inline const QString kCreateFolderQuestion = QStringLiteral("The specified directory does not exist. Create it?");

/// "ISO images|*.ISO|All|*.*" -> "ISO images (*.ISO);;All (*.*)".
QString qtFilter(const QString& filter);

/// Appends the default extension ("ISO" or ".ISO") to a name whose last part has none.
QString withDefaultExt(const QString& name, const QString& defaultExt);

}  // namespace kivo
