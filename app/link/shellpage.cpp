#include "shellpage.h"

#include "art.h"
#include "shellintegration.h"
#include "shell/controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>

using kivo::art::picture;

namespace {

QPlainTextEdit* memo(QWidget* parent, const char* name, const QStringList& lines, QRect place) {
  auto* m = new QPlainTextEdit(parent);
  m->setObjectName(QLatin1String(name));
  m->setAccessibleName(QLatin1String(name));
  m->setPlainText(lines.join(QLatin1Char('\n')));
  m->setReadOnly(true);
  m->setFrameShape(QFrame::NoFrame);
  m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m->setLineWrapMode(QPlainTextEdit::NoWrap);
  // Reads as text on the page, on the page grey or a group's fill alike.
  QPalette pal = m->palette();
  pal.setColor(QPalette::Base, Qt::transparent);
  m->setPalette(pal);
  m->viewport()->setAutoFillBackground(false);
  m->setGeometry(place);
  return m;
}

QLabel* done(QWidget* parent, const char* name, QPoint at) {
  auto* l = kivo::label(parent, name, QStringLiteral("...done!"), at);
  l->hide();
  return l;
}

}  // namespace

TFrame2::TFrame2(kivo::Services& services, QWidget* parent) : kivo::Page(services, parent) {
  using kivo::art::Picture;
  setObjectName(QStringLiteral("Frame2"));
  title = makeTitle(QStringLiteral("Windows shell integration"));
  winlogo = picture(this, "winlogo", Picture::Desktop, {8, 40, 64, 64});
  Memo1 = memo(this, "Memo1",
               {QStringLiteral("There are some cool functions to make your PSP life easier. "),
                QStringLiteral("On this page you will find some of them."),
                QStringLiteral("If you have found out your own cool feature, please send it "),
                QStringLiteral("to me! (tab About) I'll love to add it to this program- and "),
                QStringLiteral("ofcourse give you credit ;-)")},
               {84, 36, 560, 90});

  GroupBox1 = new QGroupBox(QStringLiteral(" Right click ISO convert "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 136, 620, 196);
  isocontext = picture(GroupBox1, "isocontext", Picture::ContextMenu, {12, 24, 220, 160});
  Memo2 = memo(GroupBox1, "Memo2",
               {QStringLiteral("This is an awesome function "), QStringLiteral("that can convert UMD images "),
                QStringLiteral("easily by right clicking one."), QString(),
                QStringLiteral("Thanks go to Quillon, who came up with it!")},
               {246, 22, 366, 90});
  continst = kivo::linkLabel(GroupBox1, "continst", QStringLiteral("Install"), {250, 124});
  Label1 = done(GroupBox1, "Label1", {continst->geometry().right() + 10, 124});
  contunin = kivo::linkLabel(GroupBox1, "contunin", QStringLiteral("Uninstall"), {250, 150});
  Label2 = done(GroupBox1, "Label2", {contunin->geometry().right() + 10, 150});

  connect(continst, &kivo::ClickLabel::clicked, this, &TFrame2::continstClick);
  connect(contunin, &kivo::ClickLabel::clicked, this, &TFrame2::contuninClick);
}

void TFrame2::continstClick() {
  handle([&] {
    // A file that could not be copied goes unremarked, but the copy is not reported as done.
    if (kivo::shellintegration::install(services())) Label1->show();
  });
}

void TFrame2::contuninClick() {
  handle([&] {
    kivo::shellintegration::uninstall(services());
    Label2->show();
  });
}
