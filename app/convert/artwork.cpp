#include "artwork.h"

#include "shell/failure.h"
#include "shell/safefile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace kivo {

QImage loadPicture(const QString& path) {
  const QString ext = QFileInfo(path).suffix();
  if (ext.isEmpty() || !QImageReader::supportedImageFormats().contains(ext.toLower().toLatin1()))
    throw Failure(QStringLiteral("Unknown picture file extension (.%1)").arg(ext));
  // Read with its size checked first: a FIFO or a device is refused instead of blocking the window.
  QString error;
  std::optional<QByteArray> bytes = readOutsideFile(path, kMaxPictureFileBytes, &error);
  if (!bytes) throw Failure(QStringLiteral("%1: %2").arg(path, error));
  QBuffer buffer(&*bytes);
  QImageReader reader(&buffer, ext.toLower().toLatin1());
  reader.setDecideFormatFromContent(true);
  if (reader.size().isValid() && reader.size().width() * qint64(reader.size().height()) > kMaxPicturePixels)
    throw Failure(QStringLiteral("%1: %2").arg(path, QStringLiteral("The picture is too large.")));
  QImage image = reader.read();
  if (image.isNull()) throw Failure(QStringLiteral("%1: %2").arg(path, reader.errorString()));
  return image;
}

QImage defaultBackground(const QSize& size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, size.height());
  sky.setColorAt(0, QColor(18, 60, 120));
  sky.setColorAt(1, QColor(70, 150, 215));
  p.fillRect(image.rect(), sky);
  // The console's menu waves, so the preview reads as the PSP screen.
  for (int i = 0; i < 3; ++i) {
    QPainterPath wave;
    const qreal base = size.height() * (0.55 + 0.08 * i);
    wave.moveTo(0, base);
    wave.cubicTo(size.width() * 0.3, base - 40 + 15 * i, size.width() * 0.6, base + 35 - 10 * i, size.width(), base - 10);
    p.setPen(QPen(QColor(255, 255, 255, 90 - 20 * i), 2));
    p.drawPath(wave);
  }
  return image;
}

QImage defaultInformation(const QSize& size) {
  // See-through like a missing PIC0 on the PSP, with a faint dashed outline: it covers the
  // middle of PIC1, and a double-click there picks PIC0, so its place must show.
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPen pen(QColor(255, 255, 255, 150), 1.5, Qt::DashLine);
  p.setPen(pen);
  p.setBrush(QColor(255, 255, 255, 28));
  p.drawRoundedRect(QRectF(image.rect()).adjusted(1.5, 1.5, -1.5, -1.5), 6, 6);
  return image;
}

QImage defaultIcon(const QSize& size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, size.height());
  g.setColorAt(0, QColor(235, 235, 235));
  g.setColorAt(1, QColor(160, 160, 170));
  p.setBrush(g);
  p.setPen(QPen(QColor(255, 255, 255, 200), 1));
  p.drawRoundedRect(QRectF(image.rect()).adjusted(1, 1, -1, -1), 6, 6);
  p.setPen(QColor(60, 60, 70));
  QFont f = p.font();
  f.setPixelSize(size.height() / 3);
  f.setBold(true);
  p.setFont(f);
  p.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("PS1"));
  return image;
}

QImage iconShadow(const QSize& size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  // Soft edges: a few nested rectangles of growing opacity.
  for (int i = 0; i < 10; ++i) {
    p.setBrush(QColor(0, 0, 0, 12));
    p.drawRoundedRect(QRectF(image.rect()).adjusted(i + 2, i + 4, -i + 2, -i + 4), 10 - i / 2.0, 10 - i / 2.0);
  }
  return image;
}

QImage previewFrame(const QSize& size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setPen(QColor(120, 120, 120));
  p.drawRect(image.rect().adjusted(0, 0, -1, -1));
  return image;
}

namespace {
// A light plate keeps a symbol readable over any background picture.
QImage symbolPlate(int side) {
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 200));
  p.drawRoundedRect(QRectF(0.5, 0.5, side - 1, side - 1), 8, 8);
  return image;
}
}  // namespace

QImage movieSymbol(int side) {
  QImage image = symbolPlate(side);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF strip(side * 0.1, side * 0.2, side * 0.8, side * 0.6);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(50, 50, 55));
  p.drawRoundedRect(strip, 3, 3);
  p.setBrush(QColor(244, 244, 244));
  for (int i = 0; i < 5; ++i) {  // sprocket holes
    const qreal x = strip.left() + 3 + i * (strip.width() - 6) / 5.0;
    p.drawRect(QRectF(x, strip.top() + 2, strip.width() / 10, 3));
    p.drawRect(QRectF(x, strip.bottom() - 5, strip.width() / 10, 3));
  }
  p.setBrush(QColor(53, 151, 216));
  QPolygonF play;
  play << QPointF(side * 0.42, side * 0.38) << QPointF(side * 0.62, side * 0.5) << QPointF(side * 0.42, side * 0.62);
  p.drawPolygon(play);
  return image;
}

QImage soundSymbol(int side) {
  QImage image = symbolPlate(side);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(50, 50, 55));
  QPolygonF speaker;
  speaker << QPointF(side * 0.15, side * 0.38) << QPointF(side * 0.3, side * 0.38) << QPointF(side * 0.5, side * 0.2)
          << QPointF(side * 0.5, side * 0.8) << QPointF(side * 0.3, side * 0.62) << QPointF(side * 0.15, side * 0.62);
  p.drawPolygon(speaker);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(53, 151, 216), side / 16.0, Qt::SolidLine, Qt::RoundCap));
  for (int i = 1; i <= 2; ++i) {
    const qreal r = side * 0.12 * i;
    p.drawArc(QRectF(side * 0.5 - r, side * 0.5 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
  }
  return image;
}

}  // namespace kivo
