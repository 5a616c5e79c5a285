#include "xmbart.h"

#include <QBuffer>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace kivo::stick {

namespace {

const QColor kKey(255, 0, 255);  // background of the icons, shown transparent

void drawGear(QPainter& p) {
  QPainterPath teeth;
  for (int i = 0; i < 8; ++i) {
    QTransform t;
    t.translate(32, 32);
    t.rotate(i * 45);
    teeth.addPolygon(t.map(QPolygonF(QRectF(-5, -25, 10, 10))));
  }
  p.drawPath(teeth.simplified());
  QPainterPath ring;
  ring.addEllipse(QPointF(32, 32), 18, 18);
  ring.addEllipse(QPointF(32, 32), 7, 7);
  p.drawPath(ring);
}

void drawPhoto(QPainter& p) {
  QPainterPath body;
  body.addRoundedRect(QRectF(8, 18, 48, 34), 5, 5);
  body.addRect(QRectF(22, 12, 18, 8));
  QPainterPath lens;
  lens.addEllipse(QPointF(32, 35), 11, 11);
  p.drawPath(body.simplified().subtracted(lens));
  p.drawEllipse(QPointF(32, 35), 6, 6);
}

void drawMusic(QPainter& p) {
  p.drawEllipse(QRectF(10, 40, 16, 12));
  p.drawEllipse(QRectF(36, 34, 16, 12));
  p.drawRect(QRectF(22, 14, 4, 32));
  p.drawRect(QRectF(48, 8, 4, 32));
  p.drawPolygon(QPolygonF({QPointF(22, 14), QPointF(52, 8), QPointF(52, 16), QPointF(22, 22)}));
}

void drawVideo(QPainter& p) {
  QPainterPath film;
  film.addRoundedRect(QRectF(10, 8, 44, 48), 4, 4);
  QPainterPath holes;
  for (int i = 0; i < 5; ++i) {
    holes.addRect(QRectF(13, 11 + i * 9, 5, 5));
    holes.addRect(QRectF(46, 11 + i * 9, 5, 5));
  }
  holes.addRect(QRectF(22, 12, 20, 17));
  holes.addRect(QRectF(22, 35, 20, 17));
  p.drawPath(film.subtracted(holes));
}

void drawGame(QPainter& p) {
  QPainterPath pad;
  pad.addRoundedRect(QRectF(6, 20, 52, 26), 12, 12);
  pad.addEllipse(QRectF(6, 30, 20, 22));
  pad.addEllipse(QRectF(38, 30, 20, 22));
  QPainterPath keys;
  keys.addRect(QRectF(14, 30, 12, 4));
  keys.addRect(QRectF(18, 26, 4, 12));
  keys.addEllipse(QPointF(43, 29), 2.5, 2.5);
  keys.addEllipse(QPointF(49, 35), 2.5, 2.5);
  p.drawPath(pad.simplified().subtracted(keys));
}

void drawNetwork(QPainter& p) {
  QPainterPath globe;
  globe.addEllipse(QPointF(32, 32), 24, 24);
  QPen pen(Qt::black, 3);
  QPainterPathStroker stroker(pen);
  QPainterPath grid;
  grid.addEllipse(QPointF(32, 32), 10, 24);
  grid.moveTo(8, 32);
  grid.lineTo(56, 32);
  grid.moveTo(32, 8);
  grid.lineTo(32, 56);
  grid.moveTo(12, 20);
  grid.lineTo(52, 20);
  grid.moveTo(12, 44);
  grid.lineTo(52, 44);
  p.drawPath(globe.subtracted(stroker.createStroke(grid)));
}

QByteArray bmpBytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "BMP");
  return bytes;
}

}  // namespace

QByteArray builtInIcon(int slot) {
  // Drawn smooth on a transparent sheet, then made hard-edged over the key colour, so the
  // 256-colour result has no fringe of half-key pixels.
  QImage sheet(64, 64, QImage::Format_ARGB32);
  sheet.fill(Qt::transparent);
  {
    QPainter p(&sheet);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QLinearGradient shade(0, 0, 0, 64);
    shade.setColorAt(0, QColor(255, 255, 255));
    shade.setColorAt(1, QColor(196, 214, 236));
    p.setBrush(shade);
    switch (slot) {
    case 1: drawGear(p); break;
    case 2: drawPhoto(p); break;
    case 3: drawMusic(p); break;
    case 4: drawVideo(p); break;
    case 5: drawGame(p); break;
    default: drawNetwork(p); break;
    }
  }
  QImage flat(64, 64, QImage::Format_RGB32);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const QRgb px = sheet.pixel(x, y);
      flat.setPixel(x, y, qAlpha(px) >= 128 ? qRgb(qRed(px), qGreen(px), qBlue(px)) : kKey.rgb());
    }
  flat.setPixel(0, 63, kKey.rgb());
  return bmpBytes(flat.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither));
}

QByteArray builtInWallpaper() {
  QImage image(480, 272, QImage::Format_RGB888);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 480, 272);
  sky.setColorAt(0, QColor(18, 58, 122));
  sky.setColorAt(0.55, QColor(42, 112, 186));
  sky.setColorAt(1, QColor(12, 40, 90));
  p.fillRect(image.rect(), sky);
  // Two soft waves across the screen.
  for (int wave = 0; wave < 2; ++wave) {
    QPainterPath path;
    const double base = 150 + wave * 28, amp = 26 - wave * 8;
    path.moveTo(0, base);
    for (int x = 0; x <= 480; x += 8) path.lineTo(x, base + amp * qSin((x / 480.0) * 2 * M_PI + wave * 1.3));
    path.lineTo(480, 272);
    path.lineTo(0, 272);
    path.closeSubpath();
    p.fillPath(path, QColor(255, 255, 255, 28 + wave * 14));
  }
  p.end();
  return bmpBytes(image);
}

QImage previewFrame(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(40, 60, 90));
  return image;
}

QImage memoryStickArt() {
  QImage image(80, 110, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath card;
  card.moveTo(8, 4);
  card.lineTo(60, 4);
  card.lineTo(72, 16);
  card.lineTo(72, 104);
  card.lineTo(8, 104);
  card.closeSubpath();
  QLinearGradient shade(0, 0, 80, 0);
  shade.setColorAt(0, QColor(70, 80, 96));
  shade.setColorAt(1, QColor(30, 36, 46));
  p.fillPath(card, shade);
  p.setBrush(QColor(230, 190, 80));
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 7; ++i) p.drawRect(QRectF(14 + i * 8, 86, 5, 14));
  p.setBrush(QColor(53, 151, 216));
  p.drawRoundedRect(QRectF(16, 24, 48, 40), 4, 4);
  p.setPen(Qt::white);
  QFont font = p.font();
  font.setPixelSize(12);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRectF(16, 24, 48, 40), Qt::AlignCenter, QStringLiteral("PRX"));
  return image;
}

QImage xmbPageArt() {
  QImage image(120, 68, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(30, 30, 34));
  p.drawRoundedRect(QRectF(0, 8, 120, 52), 24, 24);
  QLinearGradient screen(0, 0, 0, 36);
  screen.setColorAt(0, QColor(42, 112, 186));
  screen.setColorAt(1, QColor(18, 58, 122));
  p.setBrush(screen);
  p.drawRect(QRectF(30, 16, 60, 36));
  p.setBrush(QColor(200, 200, 200));
  p.drawEllipse(QPointF(16, 34), 6, 6);
  p.drawEllipse(QPointF(104, 34), 6, 6);
  return image;
}

QImage arrowArt(ArrowLook look) {
  QImage image(24, 24, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  const QColor colour = look == ArrowLook::Normal ? QColor(53, 151, 216)
                        : look == ArrowLook::Hover ? QColor(92, 182, 240)
                                                   : QColor(28, 96, 150);
  p.setBrush(colour);
  const double d = look == ArrowLook::Pressed ? 1 : 0;
  p.drawPolygon(QPolygonF({QPointF(3 + d, 8 + d), QPointF(12 + d, 8 + d), QPointF(12 + d, 2 + d),
                           QPointF(22 + d, 12 + d), QPointF(12 + d, 22 + d), QPointF(12 + d, 16 + d),
                           QPointF(3 + d, 16 + d)}));
  return image;
}

}  // namespace kivo::stick
