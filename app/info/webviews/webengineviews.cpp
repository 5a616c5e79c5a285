// The web view module: browsers backed by Qt WebEngine. Kept out of the main program because
// merely linking the engine slows the window's start several times over.
#include "info/webview.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QPointer>
#include <QQuickWindow>
#include <QWebEnginePage>
#include <QWebEngineView>

// Qt's own hook for the context all GL contexts share (qopenglcontext_p.h).
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace {

QOpenGLContext* shareContext = nullptr;

void deleteShareContext() {
  qt_gl_set_global_share_context(nullptr);
  delete shareContext;
  shareContext = nullptr;
}

// The engine reads the shared GL context that an application linking it creates before it starts;
// loaded later, as here, it finds none and crashes on its first view. Drawing in software it only
// reads the context's settings, so one that is never created (no GL library loaded) will do.
void ensureShareContext() {
  if (QOpenGLContext::globalShareContext()) return;
  shareContext = new QOpenGLContext;
  qt_gl_set_global_share_context(shareContext);
  qAddPostRoutine(deleteShareContext);
}

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

} // namespace

class WebEngineModule : public QObject, public kivo::info::BrowserModule {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID KIVO_BROWSER_MODULE_IID)
  Q_INTERFACES(kivo::info::BrowserModule)
public:
  std::unique_ptr<kivo::info::Browser> createBrowser(QWidget* parent) override {
    // The views draw in software. On the GPU path the first view turns the window it lands in
    // into an OpenGL surface, and Qt destroys and recreates the main window to make it one: the
    // window blinks off the screen and may come back elsewhere. Two small pages need no GPU.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    ensureShareContext();
    return std::make_unique<EngineBrowser>(parent);
  }
};

#include "webengineviews.moc"
