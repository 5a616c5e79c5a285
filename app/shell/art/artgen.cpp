// Draws the window's built-in pictures and the program icon into a folder, and the icon in the
// desktop's sizes into a second one:
//   kivo_artgen OUTPUT_DIR ICON_DIR
// The pictures are committed beside this program; rebuild them with the "art" target.
#include <QDir>
#include <QHash>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

const QColor kNavy(14, 42, 84);
const QColor kTeal(18, 128, 136);
const QColor kEdge(12, 30, 52);

QImage canvas(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// Dark blue on the left to teal on the right, across the window's full width.
QLinearGradient strip(qreal width) {
  QLinearGradient g(0, 0, width, 0);
  g.setColorAt(0, kNavy);
  g.setColorAt(0.55, QColor(16, 82, 118));
  g.setColorAt(1, kTeal);
  return g;
}

// A soft sheen over the upper half, as on glass.
void gloss(QPainter& p, const QRectF& r, int alpha) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, QColor(255, 255, 255, alpha));
  g.setColorAt(0.5, QColor(255, 255, 255, alpha / 3));
  g.setColorAt(0.51, QColor(255, 255, 255, 0));
  g.setColorAt(1, QColor(255, 255, 255, 0));
  p.fillRect(r, g);
}

// The whole frame (left, top, right and bottom edges as one rounded picture), 801 x 608,
// cut into the four frame pictures so the corners meet.
QImage frame() {
  const int w = 801, h = 608, side = 8, top = 28;
  QImage image = canvas(w, h);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath outer;
  outer.addRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 8, 8);
  QPainterPath inner;
  inner.addRect(QRectF(side, top, w - 2 * side, h - top - side));
  const QPainterPath body = outer.subtracted(inner);
  p.save();
  p.setClipPath(body);
  p.fillRect(image.rect(), strip(w));
  // The title strip: light glass.
  QLinearGradient glass(0, 0, 0, top);
  glass.setColorAt(0, QColor(252, 254, 255));
  glass.setColorAt(0.45, QColor(232, 241, 250));
  glass.setColorAt(0.5, QColor(214, 228, 243));
  glass.setColorAt(1, QColor(226, 236, 247));
  p.fillRect(QRectF(0, 0, w, top), glass);
  // Light falls from the top left onto the sides.
  QLinearGradient shade(0, top, 0, h);
  shade.setColorAt(0, QColor(255, 255, 255, 40));
  shade.setColorAt(1, QColor(0, 0, 0, 50));
  p.fillRect(QRectF(0, top, w, h - top), shade);
  p.restore();
  p.setPen(QPen(kEdge, 1));
  p.drawPath(outer);
  p.setPen(QPen(QColor(255, 255, 255, 120), 1));
  p.drawRoundedRect(QRectF(1.5, 1.5, w - 3, h - 3), 7, 7);
  return image;
}

QImage menuStrip() {
  const int w = 785, h = 30;
  QImage image = canvas(w, h);
  QPainter p(&image);
  p.fillRect(image.rect(), strip(w));
  gloss(p, QRectF(0, 0, w, h), 60);
  p.setPen(QColor(255, 255, 255, 70));
  p.drawLine(0, 0, w, 0);
  p.setPen(QColor(0, 0, 0, 90));
  p.drawLine(0, h - 1, w, h - 1);
  return image;
}

// A small handheld: wide rounded body, screen, pad on the left, four buttons on the right.
void handheld(QPainter& p, const QRectF& r) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const qreal u = r.height() / 40.0;
  QPainterPath body;
  body.addRoundedRect(r, 18 * u, 18 * u);
  QLinearGradient shell(r.topLeft(), r.bottomLeft());
  shell.setColorAt(0, QColor(74, 78, 86));
  shell.setColorAt(0.5, QColor(30, 32, 38));
  shell.setColorAt(1, QColor(12, 13, 16));
  p.fillPath(body, shell);
  p.setPen(QPen(QColor(160, 170, 185), 1));
  p.drawPath(body);
  const QRectF screen(r.center().x() - 24 * u, r.top() + 6 * u, 48 * u, 28 * u);
  QLinearGradient lit(screen.topLeft(), screen.bottomRight());
  lit.setColorAt(0, QColor(96, 196, 236));
  lit.setColorAt(0.6, QColor(34, 102, 170));
  lit.setColorAt(1, QColor(20, 50, 110));
  p.setPen(QPen(QColor(8, 8, 10), 1.2));
  p.setBrush(lit);
  p.drawRect(screen);
  // A wave across the screen, like a menu's ribbon.
  QPainterPath wave;
  wave.moveTo(screen.left(), screen.center().y() + 3 * u);
  wave.cubicTo(screen.left() + 16 * u, screen.top() + 6 * u, screen.left() + 30 * u, screen.bottom() - 2 * u,
               screen.right(), screen.center().y() - 2 * u);
  p.setPen(QPen(QColor(255, 255, 255, 170), 1.2 * u));
  p.setBrush(Qt::NoBrush);
  p.drawPath(wave);
  // Pad and buttons.
  const QPointF pad(r.left() + 14 * u, r.center().y());
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(150, 156, 166));
  p.drawRect(QRectF(pad.x() - 6 * u, pad.y() - 2 * u, 12 * u, 4 * u));
  p.drawRect(QRectF(pad.x() - 2 * u, pad.y() - 6 * u, 4 * u, 12 * u));
  const QPointF btn(r.right() - 14 * u, r.center().y());
  const QColor marks[] = {QColor(90, 200, 160), QColor(230, 90, 100), QColor(120, 150, 230), QColor(220, 130, 200)};
  const QPointF at[] = {{0, -5}, {5, 0}, {0, 5}, {-5, 0}};
  for (int i = 0; i < 4; ++i) {
    p.setBrush(marks[i]);
    p.drawEllipse(btn + at[i] * u, 2.2 * u, 2.2 * u);
  }
  p.restore();
}

QImage footer() {
  const int w = 785, h = 68;
  QImage image = canvas(w, h);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(image.rect(), strip(w));
  gloss(p, QRectF(0, 0, w, h), 45);
  p.setPen(QColor(0, 0, 0, 90));
  p.drawLine(0, 0, w, 0);
  p.setPen(QColor(255, 255, 255, 60));
  p.drawLine(0, 1, w, 1);
  handheld(p, QRectF(14, 14, 100, 40));
  QFont name(QStringLiteral("DejaVu Sans"));
  name.setPixelSize(20);
  name.setBold(true);
  p.setFont(name);
  p.setPen(QColor(0, 0, 0, 110));
  p.drawText(QPointF(131, 36), QStringLiteral("Kivo Workbench"));
  p.setPen(Qt::white);
  p.drawText(QPointF(130, 35), QStringLiteral("Kivo Workbench"));
  QFont credit(QStringLiteral("DejaVu Sans"));
  credit.setPixelSize(11);
  p.setFont(credit);
  p.setPen(QColor(200, 230, 240));
  p.drawText(QPointF(131, 52), QStringLiteral("version 1.5  \u00b7  by Plovik"));
  // The light box behind the options.
  const QRectF box(506, 5, 273, 59);
  QLinearGradient light(box.topLeft(), box.bottomLeft());
  light.setColorAt(0, QColor(250, 252, 255, 240));
  light.setColorAt(1, QColor(222, 234, 244, 240));
  p.setPen(QPen(QColor(255, 255, 255, 200), 1));
  p.setBrush(light);
  p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
  return image;
}

// The emblem: a rounded tile from blue to teal with a white handheld outline and a "K".
QImage emblem(int size) {
  QImage image = canvas(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 32.0;
  const QRectF tile(1 * s, 1 * s, 30 * s, 30 * s);
  QLinearGradient g(tile.topLeft(), tile.bottomRight());
  g.setColorAt(0, QColor(60, 150, 230));
  g.setColorAt(1, kTeal);
  p.setPen(QPen(kEdge, 1.0 * s));
  p.setBrush(g);
  p.drawRoundedRect(tile, 7 * s, 7 * s);
  gloss(p, tile.adjusted(2 * s, 1 * s, -2 * s, 0), 90);
  p.setPen(QPen(Qt::white, 2.4 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(5 * s, 10 * s, 22 * s, 12 * s), 6 * s, 6 * s);
  QPainterPath k;
  k.moveTo(13 * s, 13 * s);
  k.lineTo(13 * s, 19 * s);
  k.moveTo(19 * s, 13 * s);
  k.lineTo(14 * s, 16 * s);
  k.lineTo(19 * s, 19 * s);
  p.setPen(QPen(Qt::white, 1.8 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(k);
  return image;
}

enum class Glyph { Minimize, Maximize, Close };

// A small glass button of the title strip.
QImage button(int w, int h, Glyph glyph, bool hot, bool disabled = false) {
  QImage image = canvas(w, h);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(0.5, 0.5, w - 1, h - 1);
  QColor top, bottom;
  if (glyph == Glyph::Close) {
    top = hot ? QColor(250, 150, 130) : QColor(226, 128, 110);
    bottom = hot ? QColor(222, 52, 32) : QColor(184, 50, 34);
  } else if (disabled) {
    top = QColor(214, 222, 232);
    bottom = QColor(176, 188, 204);
  } else {
    top = hot ? QColor(172, 222, 252) : QColor(200, 216, 236);
    bottom = hot ? QColor(42, 138, 210) : QColor(104, 132, 170);
  }
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, top);
  g.setColorAt(0.48, top.darker(108));
  g.setColorAt(0.52, bottom);
  g.setColorAt(1, bottom.lighter(120));
  p.setPen(QPen(disabled ? QColor(130, 140, 156) : kEdge, 1));
  p.setBrush(g);
  p.drawRoundedRect(r, 3, 3);
  if (hot) {
    QRadialGradient glow(QPointF(w / 2.0, h), w / 1.6);
    glow.setColorAt(0, QColor(255, 255, 255, 110));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawRoundedRect(r, 3, 3);
  }
  const QPointF c(w / 2.0, h / 2.0);
  const QColor ink = disabled ? QColor(240, 244, 248) : Qt::white;
  QPen shadow(QColor(0, 0, 0, disabled ? 40 : 110), 2.6, Qt::SolidLine, Qt::RoundCap);
  QPen pen(ink, 1.8, Qt::SolidLine, Qt::RoundCap);
  auto stroke = [&](const QPainterPath& path) {
    p.setBrush(Qt::NoBrush);
    p.setPen(shadow);
    p.drawPath(path.translated(0, 0.5));
    p.setPen(pen);
    p.drawPath(path);
  };
  QPainterPath path;
  switch (glyph) {
  case Glyph::Minimize:
    path.moveTo(c.x() - 4.5, c.y() + 3);
    path.lineTo(c.x() + 4.5, c.y() + 3);
    break;
  case Glyph::Maximize:
    path.addRect(QRectF(c.x() - 4.5, c.y() - 3.5, 9, 7));
    break;
  case Glyph::Close:
    path.moveTo(c.x() - 3.5, c.y() - 3.5);
    path.lineTo(c.x() + 3.5, c.y() + 3.5);
    path.moveTo(c.x() + 3.5, c.y() - 3.5);
    path.lineTo(c.x() - 3.5, c.y() + 3.5);
    break;
  }
  stroke(path);
  return image;
}

// 256 colours without dithering: the most frequent colours of the picture (alpha made binary,
// as an icon of 256 colours has it), each pixel mapped to its nearest.
QImage toIndexed256(const QImage& source) {
  const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
  QHash<QRgb, int> counts;
  for (int y = 0; y < argb.height(); ++y)
    for (int x = 0; x < argb.width(); ++x) {
      const QRgb c = argb.pixel(x, y);
      if (qAlpha(c) >= 128) ++counts[qRgb(qRed(c), qGreen(c), qBlue(c))];
    }
  QList<std::pair<int, QRgb>> byCount;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it) byCount.append({it.value(), it.key()});
  std::sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  QList<QRgb> table{qRgba(0, 0, 0, 0)};
  for (const auto& entry : byCount) {
    if (table.size() == 256) break;
    table.append(entry.second);
  }
  QImage out(argb.size(), QImage::Format_Indexed8);
  out.setColorTable(table);
  for (int y = 0; y < argb.height(); ++y)
    for (int x = 0; x < argb.width(); ++x) {
      const QRgb c = argb.pixel(x, y);
      int best = 0;
      if (qAlpha(c) >= 128) {
        int bestDistance = INT_MAX;
        for (int i = 1; i < table.size(); ++i) {
          const int dr = qRed(c) - qRed(table[i]), dg = qGreen(c) - qGreen(table[i]), db = qBlue(c) - qBlue(table[i]);
          const int d = dr * dr + dg * dg + db * db;
          if (d < bestDistance) bestDistance = d, best = i;
        }
      }
      out.setPixel(x, y, static_cast<uint>(best));
    }
  return out;
}

bool save(const QImage& image, const QDir& dir, const char* name) {
  const QString path = dir.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
  if (image.save(path, "PNG")) return true;
  std::fprintf(stderr, "kivo_artgen: cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: kivo_artgen OUTPUT_DIR ICON_DIR\n");
    return 2;
  }
  QDir dir(QString::fromLocal8Bit(argv[1])), icons(QString::fromLocal8Bit(argv[2]));
  if (!dir.mkpath(QStringLiteral(".")) || !icons.mkpath(QStringLiteral("."))) return 1;

  const QImage whole = frame();
  bool ok = save(whole.copy(0, 0, 8, 608), dir, "FrameLeft") && save(whole.copy(793, 0, 8, 608), dir, "FrameRight") &&
            save(whole.copy(8, 0, 785, 28), dir, "FrameTop") && save(whole.copy(8, 600, 785, 8), dir, "FrameBottom") &&
            save(menuStrip(), dir, "borderTop") && save(footer(), dir, "feeter") && save(emblem(40), dir, "titleIcon") &&
            save(button(27, 15, Glyph::Minimize, false), dir, "btnMin") &&
            save(button(27, 15, Glyph::Minimize, true), dir, "btnMinHot") &&
            save(button(26, 17, Glyph::Maximize, false, true), dir, "btnMax") &&
            save(button(42, 15, Glyph::Close, false), dir, "btnClose") &&
            save(button(42, 15, Glyph::Close, true), dir, "btnCloseHot");
  // The program icon: 32 x 32 in 256 colours, as the tray and the desktop show it.
  ok = ok && save(toIndexed256(emblem(32)), dir, "kivo");
  // Menus and file managers pick the size they need, in full colour.
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    ok = ok && save(emblem(size), icons, QStringLiteral("kivo-%1").arg(size).toLatin1().constData());
  return ok ? 0 : 1;
}
