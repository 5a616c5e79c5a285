#pragma once
// The seams between the pages and the outside world. Pages receive a Services bundle; the real
// program fills it with Qt and process implementations, tests with recording fakes.

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

class QWidget;

namespace kivo {

/// Windows show states carried by every start (they have no effect on Linux).
enum ShowState : int { SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOW = 5 };

/// What a started tool works on, so that the user can see it at work: the activity view names
/// the job, shows what it reads and writes, checks that the file it must leave is there, and
/// removes what a cancelled job left half-written. Paths as the tool gets them: relative ones
/// are taken against the current folder at the start.
struct ToolJob {
  QString title;       ///< names the job ("ISO to CSO"); empty: the program's name
  QStringList reads;   ///< the files the tool reads
  QString writes;      ///< the file it must leave; empty when there is none to check
};

/// Starts outside programs. A command line is one string, quoted as the Windows run-time
/// expects; the runner splits it itself and never goes through a shell.
class ToolRunner {
public:
  virtual ~ToolRunner() = default;
  /// Starts the command line and blocks the handler until it ends; 0 when it could not be
  /// started or the user cancelled it.
  virtual uint32_t runAndWait(const QString& commandLine, int showState, const ToolJob& job = {}) = 0;
  /// Starts the command line beside the program and returns at once.
  virtual void startAndForget(const QString& commandLine, int showState, const ToolJob& job = {}) = 0;
  /// Hands a file or web address to the desktop's "open" verb; the result is not read.
  virtual void openWithShell(const QString& target, int showState) = 0;
  /// Whether the user cancelled the last run-and-wait job.
  virtual bool lastRunCancelled() const = 0;
  /// The handler's own steps after the last run-and-wait job (moving its result into place)
  /// have the last word on how it ended: its result now lies at resultPath, or it failed for
  /// the reason given.
  virtual void settleLastRun(const QString& resultPath, const QString& failure = {}) = 0;
};

enum class DialogKind { Open, Save };

/// What a file dialog shows; FileDialog (filedialog.h) builds these.
struct FileRequest {
  DialogKind kind = DialogKind::Open;
  QString title;        ///< empty: the platform's default title
  QString filter;       ///< "name|pattern|name|pattern", patterns separated by ';'
  QString fileName;     ///< the dialog's current file name, shown as preset
  QString initialDir;   ///< empty: the current folder
  bool showHidden = false;
};

struct FolderRequest {
  QString caption;
  QString folder;       ///< preselected folder
};

/// Shows the platform's dialogs. Returns the chosen path, or nothing when the user cancelled.
class DialogBackend {
public:
  virtual ~DialogBackend() = default;
  virtual std::optional<QString> chooseFile(const FileRequest& request) = 0;
  virtual std::optional<QString> chooseFolder(const FolderRequest& request) = 0;
};

enum class Answer { Ok, Yes, No, Cancel };
enum class Buttons { Ok, YesNo, YesNoCancel, OkCancel };
enum class BoxIcon { None, Information, Warning, Error, Question };

/// Modal message boxes; the caption is the application title unless one is given.
class MessageBoxes {
public:
  virtual ~MessageBoxes() = default;
  /// A plain box with an OK button.
  virtual void showMessage(const QString& text) = 0;
  /// The error box that ends a failed handler.
  virtual void showError(const QString& text) = 0;
  /// A question; caption empty means the application title.
  virtual Answer ask(const QString& caption, const QString& text, Buttons buttons, BoxIcon icon) = 0;
};

/// Today's date and the user's locale, so tests can fix both.
class Clock {
public:
  virtual ~Clock() = default;
  virtual QDate today() const = 0;
  virtual QLocale locale() const = 0;
};

/// Everything a page needs from outside; it outlives every page.
struct Services {
  ToolRunner& runner;
  DialogBackend& dialogs;
  MessageBoxes& messages;
  Clock& clock;
};

/// The application title: taskbar text and the caption of every message box.
inline const QString kAppTitle = QStringLiteral("Kivo Workbench v1.5 - by Plovik");

}  // namespace kivo
