#include "art.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace kivo::art {

namespace {
const QColor kBlue(53, 151, 216), kDark(40, 60, 90), kLight(220, 232, 245);
}

QPixmap draw(Picture picture, QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(pixmap.rect()).adjusted(2, 2, -2, -2);
  const qreal w = r.width(), h = r.height();
  p.setPen(QPen(kDark, 2));
  switch (picture) {
  case Picture::Globe: {
    p.setBrush(kLight);
    const qreal d = qMin(w, h);
    const QRectF ball(r.center().x() - d / 2, r.center().y() - d / 2, d, d);
    p.drawEllipse(ball);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kBlue, 2));
    for (qreal k : {0.25, 0.6}) p.drawEllipse(ball.adjusted(d * k / 2, 0, -d * k / 2, 0));
    p.drawLine(QPointF(ball.center().x(), ball.top()), QPointF(ball.center().x(), ball.bottom()));
    for (qreal k : {0.3, 0.5, 0.7}) {
      const qreal y = ball.top() + d * k, half = d / 2 * 2 * std::sqrt(k * (1 - k));
      p.drawLine(QPointF(ball.center().x() - half, y), QPointF(ball.center().x() + half, y));
    }
    break;
  }
  case Picture::Usb:
    p.setBrush(kLight);
    p.drawRoundedRect(QRectF(r.left() + w * 0.3, r.top(), w * 0.4, h * 0.35), 2, 2);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(r.left() + w * 0.2, r.top() + h * 0.35, w * 0.6, h * 0.6), 4, 4);
    break;
  case Picture::Network:
    p.setBrush(kBlue);
    for (int i = 0; i < 3; ++i) p.drawRect(QRectF(r.left() + i * w / 3 + 2, r.bottom() - h * 0.3, w / 3 - 4, h * 0.3));
    p.drawLine(QPointF(r.center().x(), r.top() + h * 0.3), QPointF(r.center().x(), r.bottom() - h * 0.3));
    p.drawLine(QPointF(r.left() + w / 6, r.bottom() - h * 0.45), QPointF(r.right() - w / 6, r.bottom() - h * 0.45));
    p.setBrush(kLight);
    p.drawRect(QRectF(r.left() + w * 0.25, r.top(), w * 0.5, h * 0.3));
    break;
  case Picture::Keyboard:
    p.setBrush(kLight);
    p.drawRoundedRect(QRectF(r.left(), r.top() + h * 0.25, w, h * 0.5), 4, 4);
    p.setBrush(kBlue);
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 6; ++col)
        p.drawRect(QRectF(r.left() + 4 + col * (w - 8) / 6, r.top() + h * 0.3 + row * h * 0.13, (w - 8) / 6 - 3,
                          h * 0.09));
    break;
  case Picture::Registry:
    p.setBrush(kLight);
    for (int i = 2; i >= 0; --i) p.drawRect(QRectF(r.left() + i * 5, r.top() + i * 5, w * 0.7, h * 0.7));
    p.setPen(QPen(kBlue, 2));
    for (int i = 1; i < 4; ++i) p.drawLine(QPointF(r.left() + 6, r.top() + i * h * 0.15), QPointF(r.left() + w * 0.6, r.top() + i * h * 0.15));
    break;
  case Picture::Desktop:
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(r.left(), r.top(), w, h * 0.75), 3, 3);
    p.setBrush(kLight);
    p.drawRect(QRectF(r.left() + w * 0.15, r.top() + h * 0.12, w * 0.45, h * 0.35));
    p.setBrush(kDark);
    p.drawRect(QRectF(r.left() + w * 0.4, r.top() + h * 0.75, w * 0.2, h * 0.15));
    p.drawRect(QRectF(r.left() + w * 0.25, r.top() + h * 0.9, w * 0.5, h * 0.08));
    break;
  case Picture::ContextMenu: {
    p.setBrush(Qt::white);
    p.drawRect(QRectF(r.left() + w * 0.25, r.top() + h * 0.1, w * 0.7, h * 0.85));
    const QStringList items{QStringLiteral("Open"), QStringLiteral("Convert to CSO"), QStringLiteral("Convert to DAX"),
                            QStringLiteral("Convert to ISO"), QStringLiteral("Properties")};
    QFont font = p.font();
    font.setPixelSize(qMax(8, int(h * 0.085)));
    p.setFont(font);
    const qreal line = h * 0.85 / items.size();
    for (int i = 0; i < items.size(); ++i) {
      const QRectF row(r.left() + w * 0.25 + 2, r.top() + h * 0.1 + i * line, w * 0.7 - 4, line);
      if (i >= 1 && i <= 3) p.fillRect(row.adjusted(0, 1, 0, -1), kLight);
      p.setPen(kDark);
      p.drawText(row.adjusted(6, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, items[i]);
    }
    p.setPen(QPen(kDark, 1));
    p.setBrush(kBlue);
    p.drawRect(QRectF(r.left(), r.top(), w * 0.2, h * 0.25));
    p.setBrush(Qt::NoBrush);
    QPainterPath arrow;
    arrow.moveTo(r.left() + w * 0.15, r.top() + h * 0.2);
    arrow.lineTo(r.left() + w * 0.15, r.top() + h * 0.36);
    arrow.lineTo(r.left() + w * 0.19, r.top() + h * 0.32);
    arrow.lineTo(r.left() + w * 0.24, r.top() + h * 0.31);
    arrow.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(arrow);
    break;
  }
  }
  return pixmap;
}

QLabel* picture(QWidget* parent, const char* name, Picture what, QRect place) {
  auto* l = new QLabel(parent);
  l->setObjectName(QLatin1String(name));
  l->setGeometry(place);
  l->setPixmap(draw(what, place.size()));
  return l;
}

}  // namespace kivo::art
