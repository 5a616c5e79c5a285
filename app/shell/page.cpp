#include "page.h"

#include <QFont>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>

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
  QFont font(family);
  font.setPixelSize(px);
  font.setBold(bold);
  return font;
}

QPixmap builtInPicture(const QString& resource) {
  QImageReader reader(resource, "png");
  reader.setAutoDetectImageFormat(false);
  return QPixmap::fromImage(reader.read());
}

void installFontSubstitutes() {
  const QString sans = QStringLiteral("DejaVu Sans");
  for (const char* name : {"Verdana", "Tahoma", "Segoe UI", "MS Sans Serif"})
    QFont::insertSubstitution(QString::fromLatin1(name), sans);
  QFont::insertSubstitution(QStringLiteral("Lucida Console"), QStringLiteral("DejaVu Sans Mono"));
}

}  // namespace kivo
