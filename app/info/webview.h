#pragma once
// The Home page's web views. The browser engine lives in a module of its own, loaded on first
// use after the window has painted, so the program starts without it; without the module each
// view shows a plain message instead.

#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;

namespace kivo::info {

/// One embedded browser, as the web module provides it.
class Browser {
public:
  virtual ~Browser() = default;
  /// The browser's widget; the host keeps it at its own size.
  virtual QWidget* widget() = 0;
  virtual void navigate(const QUrl& url) = 0;
  /// The page's own notion of being shown (what scripts on the page can see).
  virtual void setBrowserVisible(bool visible) = 0;
  virtual bool browserVisible() const = 0;

  /// Set by the host; called for every download the browser starts and completes.
  std::function<void()> downloadBegin;
  std::function<void()> downloadComplete;
};

/// What the web module exports.
class BrowserModule {
public:
  virtual ~BrowserModule() = default;
  /// A browser whose widget is a child of parent.
  virtual std::unique_ptr<Browser> createBrowser(QWidget* parent) = 0;
};

/// The web module, loaded once per process; nullptr when it or the engine cannot be loaded,
/// with the reason in *why.
BrowserModule* browserModule(QString* why = nullptr);
/// Where browserModule() looks; the program folder's plugins/ unless set.
void setBrowserModuleFolder(const QString& folder);
QString browserModuleFolder();

/// The text a view shows when there is no browser.
inline const QString kNoBrowserText =
    QStringLiteral("Web pages cannot be shown here: the web view module is not installed.");

/// A web view on a page: size, navigate, and the download events as signals.
class TWebView : public QWidget {
  Q_OBJECT
public:
  explicit TWebView(QWidget* parent = nullptr);
  ~TWebView() override;

  void setSize(int width, int height) { resize(width, height); }
  /// Navigates now, or as soon as the browser is attached after the first paint.
  void Navigate(const QUrl& url);
  void setBrowserVisible(bool visible);
  bool browserVisible() const;

  /// True once a browser is in place; false before and when the module is missing.
  bool hasBrowser() const { return browser_ != nullptr; }
  /// True once the module was tried, with or without success.
  bool attached() const { return tried_; }
  /// The last address asked for.
  QUrl requested() const { return requested_; }

signals:
  void DownloadBegin();
  void DownloadComplete();

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void scheduleAttach();
  void attach();

  std::unique_ptr<Browser> browser_;
  QLabel* message_ = nullptr;
  QUrl requested_;
  bool pending_ = false;
  bool painted_ = false;
  bool scheduled_ = false;
  bool tried_ = false;
  bool visibleWish_ = false;
};

} // namespace kivo::info

#define KIVO_BROWSER_MODULE_IID "net.plovik.kivo.BrowserModule/1"
Q_DECLARE_INTERFACE(kivo::info::BrowserModule, KIVO_BROWSER_MODULE_IID)
