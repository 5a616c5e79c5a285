#include "screengrab.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

void tScreenGrab::GrabScreen() {
  bmp_ = QPixmap();
  QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary) return;
  const QRect desktop = primary->virtualGeometry();
  if (desktop.width() <= 0 || desktop.height() <= 0) return;
  QPixmap picture(desktop.size());
  picture.fill(Qt::black);
  {
    QPainter painter(&picture);
    for (QScreen* screen : primary->virtualSiblings()) {
      const QPixmap shot = screen->grabWindow(0);
      if (shot.isNull()) continue;
      const QRect place = screen->geometry().translated(-desktop.topLeft());
      painter.drawPixmap(place, shot);
    }
  }
  bmp_ = picture;
}
