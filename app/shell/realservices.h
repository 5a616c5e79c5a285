#pragma once
// The real program's implementations of the services: Qt dialogs and message boxes, the
// system clock and locale, and the process runner.

#include "processrunner.h"
#include "services.h"
#include "songplayer.h"

#include <memory>

class QWidget;

namespace kivo {

class QtDialogs : public DialogBackend {
public:
  std::optional<QString> chooseFile(const FileRequest& request) override;
  std::optional<QString> chooseFolder(const FolderRequest& request) override;
};

class QtMessageBoxes : public MessageBoxes {
public:
  void showMessage(const QString& text) override;
  void showError(const QString& text) override;
  Answer ask(const QString& caption, const QString& text, Buttons buttons, BoxIcon icon) override;
};

class SystemClock : public Clock {
public:
  QDate today() const override { return QDate::currentDate(); }
  QLocale locale() const override { return QLocale::system(); }
};

/// The song through Qt Multimedia.
std::unique_ptr<SongPlayer> makeQtSongPlayer();

}  // namespace kivo
