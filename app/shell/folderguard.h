#pragma once
// Handlers that show a dialog or enter another folder record the current folder first and put
// it back when they end, however they end, so every handler starts in the program folder.

#include <QDir>
#include <QString>

namespace kivo {

class CurrentFolderGuard {
public:
  CurrentFolderGuard() : saved_(QDir::currentPath()) {}
  ~CurrentFolderGuard() { QDir::setCurrent(saved_); }
  CurrentFolderGuard(const CurrentFolderGuard&) = delete;
  CurrentFolderGuard& operator=(const CurrentFolderGuard&) = delete;
  const QString& saved() const { return saved_; }

  /// Makes folder current (relative to the current folder) until the guard ends; false, and
  /// nothing changed, when it cannot be entered.
  bool enter(const QString& folder) { return !folder.isEmpty() && QDir::setCurrent(folder); }

private:
  QString saved_;
};

}  // namespace kivo
