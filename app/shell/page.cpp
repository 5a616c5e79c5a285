#include "page.h"

#include <QFont>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <map>

namespace kivo {

Page::Page(Services& services, QWidget* parent) : QFrame(parent), services_(services) {
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kPageGrey);
  setPalette(pal);
  setFont(pixelFont(QStringLiteral("Verdana"), 13));
  resize(785, 474);
}

QLabel* Page::makeTitle(const QString& text, int left, int top) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QStringLiteral("title"));
  label->setFont(pixelFont(QStringLiteral("Verdana"), 16, true));
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, kTitleBlue);
  label->setPalette(pal);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QFont pixelFont(const QString& family, int px, bool bold) {
  // Asked by the font that stands in for it: each name asked costs the font database a search
  // of its own, and the first window's text waits for them.
  QFont font(QFont::substitute(family));
  font.setPixelSize(px);
  font.setBold(bold);
  return font;
}

namespace {

// Pictures decoded ahead, each waiting for its one builtInPicture().
std::map<QString, QImage>& decodedAhead() {
  static std::map<QString, QImage> pictures;
  return pictures;
}

QImage readPng(const QString& resource) {
  QImageReader reader(resource, "png");
  reader.setAutoDetectImageFormat(false);
  return reader.read();
}

}  // namespace

QPixmap builtInPicture(const QString& resource) {
  std::map<QString, QImage>& ahead = decodedAhead();
  const auto found = ahead.find(resource);
  if (found == ahead.end()) return QPixmap::fromImage(readPng(resource));
  const QPixmap picture = QPixmap::fromImage(found->second);
  ahead.erase(found);
  return picture;
}

void decodeBuiltInPictures(const QStringList& resources) {
  for (const QString& resource : resources) {
    QImage image = readPng(resource);
    // The form a pixmap keeps, so taking it over converts nothing.
    if (image.hasAlphaChannel()) image.convertTo(QImage::Format_ARGB32_Premultiplied);
    decodedAhead()[resource] = image;
  }
}

void installFontSubstitutes() {
  const QString sans = QStringLiteral("DejaVu Sans");
  for (const char* name : {"Verdana", "Tahoma", "Segoe UI", "MS Sans Serif"})
    QFont::insertSubstitution(QString::fromLatin1(name), sans);
  QFont::insertSubstitution(QStringLiteral("Lucida Console"), QStringLiteral("DejaVu Sans Mono"));
}

}  // namespace kivo
