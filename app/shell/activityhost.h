#pragma once
// Hosts the tool activity in the main window: the view beside it and a link on the window to
// reopen it, the wait dialog for run-and-wait jobs, desktop notifications of failures and of
// long jobs that end while Kivo is out of sight, and "Show in folder".

#include "activityview.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

namespace kivo {

class ClickLabel;

/// Where the main window is, as far as a notification cares.
enum class WindowPresence { Active, Behind, Minimised, InTray };

/// Hidden counts as in the tray: that is the only way the main window hides.
WindowPresence presenceOf(const QWidget* window);

struct Notice {
  QString summary;
  QString body;
  bool failure = false;
};

/// A job that ends deserves a desktop notification when it failed, or ran long, and ended while
/// Kivo was minimised or in the tray.
std::optional<Notice> noticeFor(const JobEntry& entry, WindowPresence presence, qint64 longMs = 10000);

class Notifier {
public:
  virtual ~Notifier() = default;
  virtual void notify(const Notice& notice) = 0;
};

/// The desktop's notification service; where there is none, the fallback (the tray's balloon).
class DesktopNotifier : public Notifier {
public:
  explicit DesktopNotifier(std::function<void(const Notice&)> fallback) : fallback_(std::move(fallback)) {}
  void notify(const Notice& notice) override;

private:
  std::function<void(const Notice&)> fallback_;
};

/// Shows the file selected in the desktop's file manager, or opens its folder; where neither can
/// be done, cannot hears why.
void showInFileManager(const QString& path, const std::function<void(const QString&)>& cannot = {});

class ActivityHost : public QObject {
  Q_OBJECT
public:
  ActivityHost(QWidget* window, ProcessRunner& runner, Notifier& notifier,
               std::function<WindowPresence()> presence);
  ~ActivityHost() override;

  ActivityView* const view;
  /// The link on the main window that reopens the view and counts the running tools.
  ClickLabel* const reopen;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void started(int id);
  void ended(int id);
  void updateReopen();
  bool windowInSight() const;

  QWidget* const window_;
  QPointer<ProcessRunner> runner_;  // may end first when the window outlives it
  Notifier& notifier_;
  std::function<WindowPresence()> presence_;
  WaitDialogPresenter waits_;
  bool failedOutOfSight_ = false;
  bool viewWasShown_ = false;
};

}  // namespace kivo
