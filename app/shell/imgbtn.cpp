#include "imgbtn.h"

#include <QMouseEvent>

TImgBtn::TImgBtn(QWidget* parent) : QLabel(parent) {}

void TImgBtn::setPic(const QPixmap& p) {
  pic_ = p;
  setDisplayed(p);
}

void TImgBtn::setDisplayed(const QPixmap& p) {
  setPixmap(p);
  // The button follows its picture's size, as the title buttons' pictures decide it.
  if (!p.isNull()) resize(p.size());
}

void TImgBtn::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  if (!supported_) return;
  hovering_ = true;
  setDisplayed(pressed_ ? picDown_ : picUp_);
  emit OnMouseEnter();
}

void TImgBtn::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  if (!supported_) return;
  hovering_ = false;
  setDisplayed(pic_);
  emit OnMouseLeave();
}

void TImgBtn::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (!supported_ || event->button() != Qt::LeftButton) return;
  pressed_ = true;
  if (hovering_) setDisplayed(picDown_);
  emit OnMouseDown();
}

void TImgBtn::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  // The click comes first, released over the control, before the picture changes back.
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  if (!supported_ || event->button() != Qt::LeftButton) return;
  pressed_ = false;
  if (hovering_) setDisplayed(picUp_);
  emit OnMouseUp();
}
