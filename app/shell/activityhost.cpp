#include "activityhost.h"

#include "controls.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QShortcut>
#include <QUrl>
#include <QWidget>

namespace kivo {

std::optional<Notice> noticeFor(const JobEntry& e, WindowPresence presence, qint64 longMs) {
  // A window that is shown, active or not, has the activity view beside it to tell of a failure
  // (a Save dialog that just closed leaves no window active for a moment).
  const bool outOfSight = presence == WindowPresence::Minimised || presence == WindowPresence::InTray;
  if (e.state == JobState::Failed && outOfSight) return Notice{QStringLiteral("%1 failed").arg(e.title), e.failure, true};
  if (e.state == JobState::Succeeded && outOfSight && e.endedMs - e.startedMs >= longMs) {
    const QString body = e.result.isEmpty() ? QStringLiteral("Finished after %1.")
                                                  .arg(describeDuration(double(e.endedMs - e.startedMs) / 1000.0))
                                            : QStringLiteral("%1, %2").arg(e.result, describeSize(e.resultSize));
    return Notice{QStringLiteral("%1 is done").arg(e.title), body, false};
  }
  return std::nullopt;
}

void DesktopNotifier::notify(const Notice& notice) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    if (fallback_) fallback_(notice);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.failure ? 2 : 1)));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kivo-workbench"));
  call << kAppTitle << uint(0) << QStringLiteral("kivo-workbench") << notice.summary << notice.body << QStringList()
       << hints << int(-1);
  // Asked without waiting: a desktop without the service must not hold up the window.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, notice, fallback = fallback_] {
    if (watcher->isError() && fallback) fallback(notice);
    watcher->deleteLater();
  });
}

void showInFileManager(const QString& path, const std::function<void(const QString&)>& cannot) {
  const QUrl file = QUrl::fromLocalFile(path);
  const QString folder = QFileInfo(path).absolutePath();
  // Without a file manager the desktop's opener fails: its complaints stay off the terminal, and
  // the view says where the file is instead.
  const auto openFolder = [folder, cannot] {
    auto* opener = new QProcess;
    const auto failed = [folder, cannot] {
      if (cannot)
        cannot(QStringLiteral("No file manager could show the folder; the file is in %1").arg(QDir::toNativeSeparators(folder)));
    };
    QObject::connect(opener, &QProcess::finished, [opener, failed](int code, QProcess::ExitStatus status) {
      if (code != 0 || status != QProcess::NormalExit) failed();
      opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::errorOccurred, [opener, failed](QProcess::ProcessError error) {
      if (error != QProcess::FailedToStart) return;
      failed();
      opener->deleteLater();
    });
    opener->start(QStringLiteral("xdg-open"), {folder});
  };
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    openFolder();
    return;
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
                                     QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{file.toString()} << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, openFolder] {
    if (watcher->isError()) openFolder();
    watcher->deleteLater();
  });
}

ActivityHost::ActivityHost(QWidget* window, ProcessRunner& runner, Notifier& notifier,
                           std::function<WindowPresence()> presence)
    : QObject(window), view(new ActivityView(runner.activity(), window)),
      reopen(linkLabel(window, "toolActivity", QStringLiteral("Tool activity"), {340, 576})), window_(window),
      runner_(&runner), notifier_(notifier), presence_(std::move(presence)), waits_(window) {
  reopen->setToolTip(QStringLiteral("Show the tools Kivo started (Ctrl+J)"));
  reopen->setAccessibleName(QStringLiteral("Tool activity"));
  QPalette pal = reopen->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive}) pal.setColor(group, QPalette::WindowText, Qt::white);
  reopen->setPalette(pal);
  connect(reopen, &ClickLabel::clicked, view, &ActivityView::showQuietly);
  auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_J), window);
  connect(shortcut, &QShortcut::activated, view, [this] {
    view->show();
    view->raise();
    view->activateWindow();  // asked for by the user: here the view may take the focus
  });
  connect(view, &ActivityView::showInFolder, this, [this](const QString& path) {
    showInFileManager(path, [view = QPointer<ActivityView>(view), path](const QString& why) {
      if (view) view->noteAbout(path, why);
    });
  });

  runner.setWaitPresenter(&waits_);
  ToolActivity& activity = runner.activity();
  connect(&activity, &ToolActivity::added, this, &ActivityHost::started);
  connect(&activity, &ToolActivity::finished, this, &ActivityHost::ended);
  connect(&activity, &ToolActivity::removed, this, &ActivityHost::updateReopen);
  window_->installEventFilter(this);
  updateReopen();
}

ActivityHost::~ActivityHost() {
  if (runner_) runner_->setWaitPresenter(nullptr);
}

WindowPresence presenceOf(const QWidget* window) {
  if (!window->isVisible()) return WindowPresence::InTray;
  if (window->isMinimized()) return WindowPresence::Minimised;
  return QApplication::activeWindow() ? WindowPresence::Active : WindowPresence::Behind;
}

bool ActivityHost::windowInSight() const {
  const WindowPresence p = presence_();
  return p == WindowPresence::Active || p == WindowPresence::Behind;
}

void ActivityHost::started(int id) {
  updateReopen();
  const JobEntry* e = runner_->activity().entry(id);
  // A job the handler waits for has its own dialog; the others show in the view.
  if (e && !e->waited && windowInSight()) view->showQuietly();
}

void ActivityHost::ended(int id) {
  updateReopen();
  const JobEntry* e = runner_->activity().entry(id);
  if (!e) return;
  const WindowPresence presence = presence_();
  if (e->state == JobState::Failed) {
    if (windowInSight()) view->showQuietly();
    else failedOutOfSight_ = true;
  }
  if (const std::optional<Notice> notice = noticeFor(*e, presence)) notifier_.notify(*notice);
}

void ActivityHost::updateReopen() {
  const int running = runner_->activity().runningCount();
  reopen->setText(running ? QStringLiteral("Tool activity (%1 running)").arg(running) : QStringLiteral("Tool activity"));
  reopen->adjustSize();
}

bool ActivityHost::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_) {
    // The view goes with the window into the tray and comes back with it, showing a failure
    // that happened meanwhile.
    if (event->type() == QEvent::Hide && !event->spontaneous()) {
      viewWasShown_ = view->isVisible();
      view->hide();
    } else if (event->type() == QEvent::Show ||
               (event->type() == QEvent::WindowStateChange && !window_->isMinimized())) {
      if (viewWasShown_ || failedOutOfSight_) view->showQuietly();
      viewWasShown_ = failedOutOfSight_ = false;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace kivo
