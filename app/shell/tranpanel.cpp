#include "tranpanel.h"

#include <QMouseEvent>
#include <QPainter>

TTranPanel::TTranPanel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  resize(185, 41);
}

void TTranPanel::setBorder(bool on) {
  border_ = on;
  update();
}

void TTranPanel::paintEvent(QPaintEvent*) {
  if (!border_) return;
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

// A panel is a child window with its own hit test: presses on it never drag the main window.
void TTranPanel::mousePressEvent(QMouseEvent* event) {
  event->accept();
  emit OnMouseDown(event);
}

void TTranPanel::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  emit OnMouseMove(event);
}

void TTranPanel::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  // As with every control: the click first, then the button-up event.
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit OnClick();
  emit OnMouseUp(event);
}
