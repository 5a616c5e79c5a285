#include "webview.h"

#include "shell/modules.h"

#include <QLabel>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace kivo::info {

namespace {

// The engine takes a few hundred milliseconds to load: let the window reach the screen first.
constexpr int kAttachDelayMs = 100;

QString& folderOverride() {
  static QString folder;
  return folder;
}

} // namespace

void setBrowserModuleFolder(const QString& folder) {
  folderOverride() = folder;
}

QString browserModuleFolder() {
  if (!folderOverride().isEmpty()) return folderOverride();
  return kivo::moduleFolder();
}

BrowserModule* browserModule(QString* why) {
  // One attempt per process: the engine cannot be unloaded, and a failed load stays failed.
  static bool tried = false;
  static BrowserModule* module = nullptr;
  static QString reason;
  if (!tried) {
    tried = true;
#ifdef Q_OS_UNIX
    // As root the engine's sandbox would end the whole process.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
      qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    if (QObject* root = loadModule(browserModuleFolder(), QStringLiteral("kivo_webviews"), &reason)) {
      module = qobject_cast<BrowserModule*>(root);
      if (!module) reason = QStringLiteral("kivo_webviews is not a web view module");
    }
    if (!module) qInfo("Web views unavailable: %s", qPrintable(reason));
  }
  if (why) *why = reason;
  return module;
}

TWebView::TWebView(QWidget* parent) : QWidget(parent) {}

// The browser goes before the widget tree it lives in.
TWebView::~TWebView() {
  browser_.reset();
}

void TWebView::Navigate(const QUrl& url) {
  requested_ = url;
  if (browser_) {
    browser_->navigate(url);
    return;
  }
  if (tried_) return; // no module: the message stays
  pending_ = true;
  if (painted_) scheduleAttach();
}

void TWebView::setBrowserVisible(bool visible) {
  visibleWish_ = visible;
  if (browser_) browser_->setBrowserVisible(visible);
}

bool TWebView::browserVisible() const {
  return browser_ ? browser_->browserVisible() : visibleWish_;
}

void TWebView::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  // Load the engine only once the window has something on screen.
  painted_ = true;
  if (pending_) scheduleAttach();
}

void TWebView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (browser_) browser_->widget()->setGeometry(rect());
  if (message_) message_->setGeometry(rect());
}

void TWebView::scheduleAttach() {
  if (scheduled_ || tried_) return;
  scheduled_ = true;
  QTimer::singleShot(kAttachDelayMs, this, &TWebView::attach);
}

void TWebView::attach() {
  if (tried_) return;
  tried_ = true;
  if (BrowserModule* module = browserModule()) browser_ = module->createBrowser(this);
  if (!browser_) {
    message_ = new QLabel(kNoBrowserText, this);
    message_->setObjectName(QStringLiteral("message"));
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    message_->setGeometry(rect());
    message_->show();
    return;
  }
  browser_->downloadBegin = [this] { emit DownloadBegin(); };
  browser_->downloadComplete = [this] { emit DownloadComplete(); };
  QWidget* view = browser_->widget();
  view->setGeometry(rect());
  view->show();
  if (visibleWish_) browser_->setBrowserVisible(true);
  if (pending_) {
    pending_ = false;
    browser_->navigate(requested_);
  }
}

} // namespace kivo::info
