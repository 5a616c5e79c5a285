// The web view module: browsers backed by Qt WebEngine. Kept out of the main program because
// merely linking the engine slows the window's start several times over.
#include "info/webview.h"

#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

class EngineBrowser : public kivo::info::Browser {
public:
  explicit EngineBrowser(QWidget* parent) : view_(new QWebEngineView(parent)) {
    view_->setObjectName(QStringLiteral("browser"));
    QObject::connect(view_, &QWebEngineView::loadStarted, view_, [this] {
      if (downloadBegin) downloadBegin();
    });
    QObject::connect(view_, &QWebEngineView::loadFinished, view_, [this](bool) {
      if (downloadComplete) downloadComplete();
    });
  }
  ~EngineBrowser() override { delete view_.data(); }

  QWidget* widget() override { return view_; }
  void navigate(const QUrl& url) override { view_->setUrl(url); }
  void setBrowserVisible(bool visible) override { view_->page()->setVisible(visible); }
  bool browserVisible() const override { return view_->page()->isVisible(); }

private:
  QPointer<QWebEngineView> view_;
};

}  // namespace

class WebEngineModule : public QObject, public kivo::info::BrowserModule {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID KIVO_BROWSER_MODULE_IID)
  Q_INTERFACES(kivo::info::BrowserModule)
public:
  std::unique_ptr<kivo::info::Browser> createBrowser(QWidget* parent) override {
    return std::make_unique<EngineBrowser>(parent);
  }
};

#include "webengineviews.moc"
