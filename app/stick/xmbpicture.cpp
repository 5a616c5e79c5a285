#include "xmbpicture.h"

#include "shell/failure.h"
#include "shell/safefile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>

namespace kivo::stick {

namespace {

QByteArray readWhole(const QString& fileName) {
  QString error;
  std::optional<QByteArray> bytes = readOutsideFile(fileName, kMaxPictureFileBytes, &error);
  if (!bytes) throw Failure(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, error));
  return *std::move(bytes);
}

}  // namespace

XmbPicture pictureFromBytes(const QByteArray& bytes, const QByteArray& format) {
  XmbPicture picture;
  QBuffer buffer;
  buffer.setData(bytes);
  QImageReader reader(&buffer, format);
  reader.setDecideFormatFromContent(false);
  // A picture larger than any screen is not an icon or a wallpaper; refuse it before decoding.
  if (reader.canRead() && reader.size().isValid() && reader.size().width() * qint64(reader.size().height()) > kMaxPicturePixels)
    return picture;
  picture.image = reader.read();
  if (!picture.image.isNull()) {
    picture.bytes = bytes;
    picture.format = format;
  }
  return picture;
}

XmbPicture loadPicture(const QString& fileName) {
  const QString ext = QFileInfo(fileName).suffix().toLower();
  QByteArray format;
  if (ext == QLatin1String("bmp")) format = "bmp";
  else if (ext == QLatin1String("ico")) format = "ico";
  else if (ext == QLatin1String("png")) format = "png";
  else if (ext == QLatin1String("gif")) format = "gif";
  else if (ext == QLatin1String("wmf") || ext == QLatin1String("emf"))
    throw Failure(QStringLiteral("Metafile pictures (.%1) cannot be shown here").arg(ext));
  else
    throw Failure(QStringLiteral("Unknown picture file extension (.%1)").arg(ext));
  const XmbPicture picture = pictureFromBytes(readWhole(fileName), format);
  if (picture.isNull()) {
    if (format == "bmp") throw Failure(QStringLiteral("Bitmap image is not valid"));
    throw Failure(QStringLiteral("The %1 image \"%2\" is not valid").arg(QString::fromLatin1(format.toUpper()), fileName));
  }
  return picture;
}

XmbPicture loadBitmap(const QString& fileName) {
  const XmbPicture picture = pictureFromBytes(readWhole(fileName), "bmp");
  if (picture.isNull()) throw Failure(QStringLiteral("Bitmap image is not valid"));
  return picture;
}

void savePicture(const XmbPicture& picture, const QString& path) {
  QString error;
  if (!replaceFile(path, picture.bytes, &error)) throw Failure(QStringLiteral("Cannot create file \"%1\". %2").arg(path, error));
}

}  // namespace kivo::stick
