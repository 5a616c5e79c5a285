#include "clicklabel.h"

#include <QMouseEvent>

namespace kivo {

ClickLabel::ClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setCursor(Qt::PointingHandCursor);
}

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  held_ |= event->button();
  if (pressLook_) move(x() + 1, y() + 1);
  emit pressed(event->button());
  event->accept();
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  held_ &= ~event->button();
  if (pressLook_) move(x() - 1, y() - 1);
  emit released(event->button());
  // The event's position is relative to where the label stood while held; it has moved back.
  const QPoint at = event->position().toPoint() + (pressLook_ ? QPoint(1, 1) : QPoint());
  if (event->button() == Qt::LeftButton && rect().contains(at)) emit clicked();
  event->accept();
}

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click is also a press: keep the press look balanced with the release that follows.
  mousePressEvent(event);
  emit doubleClicked();
}

}  // namespace kivo
