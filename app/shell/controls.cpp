#include "controls.h"

#include "page.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace kivo {

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect place, bool wordWrap) {
  auto* l = named(new QLabel(text, parent), name);
  l->setWordWrap(wordWrap);
  l->setGeometry(place);
  return l;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, QPoint at) {
  auto* l = named(new QLabel(text, parent), name);
  l->move(at);
  l->adjustSize();
  return l;
}

QPlainTextEdit* helpText(QWidget* parent, const char* name, const QStringList& lines, QRect place) {
  auto* t = named(new QPlainTextEdit(parent), name);
  t->setPlainText(lines.join(QLatin1Char('\n')));
  t->setReadOnly(true);
  t->setFrameShape(QFrame::NoFrame);
  t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  t->setFocusPolicy(Qt::NoFocus);
  QPalette pal = t->palette();
  pal.setColor(QPalette::Base, kPageGrey);
  t->setPalette(pal);
  t->document()->setDocumentMargin(0);
  t->setGeometry(place);
  return t;
}

ClickLabel* linkLabel(QWidget* parent, const char* name, const QString& text, QPoint at, PressLook press) {
  auto* l = named(new ClickLabel(text, parent), name);
  QFont f = l->font();
  f.setUnderline(true);
  l->setFont(f);
  QPalette pal = l->palette();
  pal.setColor(QPalette::Active, QPalette::WindowText, kTitleBlue);
  pal.setColor(QPalette::Inactive, QPalette::WindowText, kTitleBlue);
  l->setPalette(pal);
  l->move(at);
  l->adjustSize();
  l->setPressLook(press == PressLook::On);
  return l;
}

QLineEdit* edit(QWidget* parent, const char* name, const QString& text, QRect place, QLabel* buddy) {
  auto* e = named(new QLineEdit(text, parent), name);
  e->setGeometry(place);
  buddy->setBuddy(e);
  return e;
}

}  // namespace kivo
