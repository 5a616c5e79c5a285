#include "aboutpage.h"

#include "shell/controls.h"
#include "site.h"
#include "texts.h"

#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTimer>

namespace {

QPlainTextEdit* memo(QWidget* parent, const char* name, const QString& accessible, const QFont& font,
                     QRect place, const QStringList& lines) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setAccessibleName(accessible);
  edit->setReadOnly(true);
  edit->setFrameShape(QFrame::NoFrame);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  edit->setFont(font);
  QPalette pal = edit->palette();
  pal.setColor(QPalette::Base, kivo::kPageGrey);
  edit->setPalette(pal);
  edit->setPlainText(lines.join(QLatin1Char('\n')));
  edit->setGeometry(place);
  return edit;
}

// The emblem: our own picture from the resources, or a drawn stand-in if it is missing.
QPixmap emblem() {
  QPixmap pixmap = kivo::builtInPicture(QStringLiteral(":/info/emblem.png"));
  if (!pixmap.isNull()) return pixmap;
  pixmap = QPixmap(176, 176);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(kivo::kTitleBlue);
  p.setPen(Qt::NoPen);
  p.drawEllipse(8, 8, 160, 160);
  p.setPen(Qt::white);
  p.setFont(kivo::pixelFont(QStringLiteral("Verdana"), 96, true));
  p.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("K"));
  return pixmap;
}

} // namespace

TFrame4::TFrame4(kivo::Services& services, QWidget* parent)
    : kivo::Page(services, parent), title(makeTitle(QStringLiteral("About"))),
      head(memo(this, "head", QStringLiteral("Kivo v1.5"),
                kivo::pixelFont(QStringLiteral("Lucida Console"), 13), {104, 16, 601, 105},
                kivo::info::bannerLines())),
      Memo1(memo(this, "Memo1", QStringLiteral("About Kivo"), kivo::pixelFont(QStringLiteral("Verdana"), 11),
                 {192, 120, 417, 241}, kivo::info::aboutLines())),
      sitelink(new kivo::ClickLabel(QStringLiteral("Click here to visit the Kivo homepage!"), this)),
      iconFav(kivo::label(this, "iconFav", {}, {608, 296, 176, 176})),
      Label1(kivo::label(this, "Label1", kivo::info::creditsLine(), {kCreditsStart, 432, 2102, 16})),
      t1(new QTimer(this)), timer15(new QTimer(this)) {
  setObjectName(QStringLiteral("Frame4"));
  // The lines fill the memos to the pixel: with the default margins the last one is cut.
  head->document()->setDocumentMargin(0);
  Memo1->document()->setDocumentMargin(2);

  sitelink->setObjectName(QStringLiteral("sitelink"));
  QFont link = kivo::pixelFont(QStringLiteral("Verdana"), 13);
  link.setUnderline(true);
  sitelink->setFont(link);
  QPalette pal = sitelink->palette();
  pal.setColor(QPalette::WindowText, Qt::blue);
  sitelink->setPalette(pal);
  sitelink->move(240, 384);
  sitelink->adjustSize();
  connect(sitelink, &kivo::ClickLabel::clicked, this, [this] { handle([this] { sitelinkClick(); }); });

  iconFav->setScaledContents(true);
  iconFav->setPixmap(emblem());

  Label1->setFont(kivo::pixelFont(QStringLiteral("Verdana"), 13));
  Label1->setAttribute(Qt::WA_TranslucentBackground);

  // Both run from the page's creation, shown or not, each on its own.
  t1->setObjectName(QStringLiteral("t1"));
  t1->setInterval(20);
  connect(t1, &QTimer::timeout, this, &TFrame4::t1Timer);
  t1->start();
  timer15->setObjectName(QStringLiteral("timer15"));
  timer15->setInterval(90000);
  connect(timer15, &QTimer::timeout, this, &TFrame4::timer15Timer);
  timer15->start();
}

void TFrame4::sitelinkClick() {
  services().runner.openWithShell(kivo::info::siteUrl(QStringLiteral("/Kivo/")).toString(),
                                  kivo::SW_SHOWNORMAL);
}

void TFrame4::t1Timer() {
  Label1->move(Label1->x() - 1, Label1->y());
}

void TFrame4::timer15Timer() {
  Label1->move(kCreditsStart, Label1->y());
}
