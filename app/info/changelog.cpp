#include "changelog.h"

#include "shell/page.h"
#include "texts.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <cmath>

namespace {

void paintGrey(QWidget* widget, QPalette::ColorRole role) {
  QPalette pal = widget->palette();
  pal.setColor(role, kivo::kPageGrey);
  widget->setPalette(pal);
}

} // namespace

Tchangelog::Tchangelog(QWidget* parent) : QScrollArea(parent), Memo1(new QPlainTextEdit) {
  setObjectName(QStringLiteral("changelog"));
  setFrameShape(QFrame::NoFrame);
  paintGrey(viewport(), QPalette::Window);
  paintGrey(this, QPalette::Window);

  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("content"));
  content->setAutoFillBackground(true);
  paintGrey(content, QPalette::Window);
  Memo1->setParent(content);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setAccessibleName(QStringLiteral("Changelog"));
  Memo1->setReadOnly(true);
  Memo1->setFrameShape(QFrame::NoFrame);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setFont(kivo::pixelFont(QStringLiteral("Verdana"), 13));
  paintGrey(Memo1, QPalette::Base);
  Memo1->setPlainText(kivo::info::changelogLines().join(QLatin1Char('\n')));
  // Here the 25 lines run a few pixels past 402; the memo grows so the panel can scroll to them.
  qreal needed = 2 * Memo1->document()->documentMargin();
  for (QTextBlock b = Memo1->document()->begin(); b.isValid(); b = b.next())
    needed += Memo1->document()->documentLayout()->blockBoundingRect(b).height();
  const int height = std::max(402, int(std::ceil(needed)));
  Memo1->setGeometry(0, 0, 497, height);
  content->resize(497, height);
  setWidget(content);
  resize(497, 402);
}
