#include "homepage.h"

#include "changelog.h"
#include "site.h"
#include "texts.h"
#include "webview.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTimer>

namespace {

// The loading sign: a small ring of dots turning while it is shown.
class LoadingSign : public QWidget {
public:
  explicit LoadingSign(QWidget* parent) : QWidget(parent) {
    step_.setInterval(90);
    QObject::connect(&step_, &QTimer::timeout, this, [this] {
      phase_ = (phase_ + 1) % kDots;
      update();
    });
  }

protected:
  void showEvent(QShowEvent*) override { step_.start(); }
  void hideEvent(QHideEvent*) override { step_.stop(); }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(width() / 2.0, height() / 2.0);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < kDots; ++i) {
      QColor c = kivo::kTitleBlue;
      c.setAlpha(255 - ((i - phase_ + kDots) % kDots) * 255 / kDots);
      p.setBrush(c);
      p.drawEllipse(QPointF(0, -5.5), 1.8, 1.8);
      p.rotate(360.0 / kDots);
    }
  }

private:
  static constexpr int kDots = 8;
  QTimer step_;
  int phase_ = 0;
};

} // namespace

TframeMain::TframeMain(kivo::Services& services, QWidget* parent)
    : kivo::Page(services, parent), Label1(makeTitle(QStringLiteral("Welcome to Kivo v1.5"))),
      changelog1(new Tchangelog(this)), web1(new kivo::info::TWebView(this)),
      web2(new kivo::info::TWebView(this)), loading(new LoadingSign(this)), bgimage(new QLabel(this)),
      eggedit(new QLineEdit(this)), timeregg(new QTimer(this)) {
  setObjectName(QStringLiteral("frame0"));

  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAttribute(Qt::WA_TranslucentBackground);
  Label1->setCursor(Qt::ArrowCursor); // nothing invites the double-click
  Label1->installEventFilter(this);

  changelog1->setObjectName(QStringLiteral("changelog1"));
  changelog1->setGeometry(8, 32, 505, 265);
  changelog1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  changelog1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  web1->setObjectName(QStringLiteral("web1"));
  web1->setGeometry(0, 304, 520, 170);
  web2->setObjectName(QStringLiteral("web2"));
  web2->setGeometry(528, 24, 248, 273);
  // Both views share the handlers, so the sign is one flag for both.
  for (kivo::info::TWebView* web : {web1, web2}) {
    connect(web, &kivo::info::TWebView::DownloadBegin, this, &TframeMain::web1DownloadBegin);
    connect(web, &kivo::info::TWebView::DownloadComplete, this, &TframeMain::web1DownloadComplete);
  }

  loading->setObjectName(QStringLiteral("loading"));
  loading->setGeometry(768, 2, 16, 16);
  loading->hide();

  bgimage->setObjectName(QStringLiteral("bgimage"));
  bgimage->setGeometry(528, 304, 256, 169);
  bgimage->setAlignment(Qt::AlignCenter);
  bgimage->setAttribute(Qt::WA_TranslucentBackground);
  bgimage->setAttribute(Qt::WA_TransparentForMouseEvents);
  bgimage->setPixmap(kivo::builtInPicture(QStringLiteral(":/info/bgimage.png"))); // missing: an empty corner

  eggedit->setObjectName(QStringLiteral("eggedit"));
  eggedit->setAccessibleName(QStringLiteral("Easter egg marker"));
  eggedit->setGeometry(552, 248, 193, 21);
  eggedit->hide();

  timeregg->setObjectName(QStringLiteral("timeregg"));
  timeregg->setInterval(20000);
  connect(timeregg, &QTimer::timeout, this, &TframeMain::timereggTimer);
}

TframeMain::~TframeMain() = default;

void TframeMain::FrameEnter() {
  web1->setSize(520, 170);
  web1->Navigate(kivo::info::siteUrl(kVersionPage));
  web2->setSize(248, 273);
  web2->Navigate(kivo::info::siteUrl(kChatPage));
}

void TframeMain::web1DownloadBegin() {
  loading->show();
}

void TframeMain::web1DownloadComplete() {
  web1->setBrowserVisible(true);
  loading->hide();
}

bool TframeMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label1 && event->type() == QEvent::MouseButtonDblClick) {
    handle([this] { Label1DblClick(); });
    return true;
  }
  return kivo::Page::eventFilter(watched, event);
}

void TframeMain::Label1DblClick() {
  timeregg->start();
  for (const QString& text : kivo::info::eggBoxes())
    services().messages.showMessage(text);
  eggedit->setText(kivo::info::kEggMarker);
}

void TframeMain::timereggTimer() {
  if (eggedit->text() == kivo::info::kEggMarker) {
    // The check may fire again inside these boxes; all nested rounds share one small batch
    // of editors, so the joke never floods the desktop.
    if (punishing_++ == 0) editorsStarted_ = 0;
    services().messages.showMessage(kivo::info::kPunishFirst);
    services().messages.showMessage(kivo::info::kPunishSecond);
    for (; editorsStarted_ < kivo::info::kPunishEditors; ++editorsStarted_)
      services().runner.startAndForget(QStringLiteral("notepad"), kivo::SW_SHOWNORMAL);
    --punishing_;
  }
  timeregg->stop();
}
