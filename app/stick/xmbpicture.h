#pragma once
// The pictures of the XMB preview, kept as the bytes they came from so that each is written
// back in its own format: a 256-colour bitmap stays a 256-colour bitmap, byte for byte.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace kivo::stick {

struct XmbPicture {
  QByteArray bytes;   ///< the file as loaded (or the built-in picture's file)
  QByteArray format;  ///< "bmp", "png", "gif" or "ico"
  QImage image;       ///< decoded, for the preview
  bool isNull() const { return image.isNull(); }
};

/// The general loader: the format follows the file's extension. Throws kivo::Failure with the
/// loader's message when the extension is unknown or the file is not a picture of that format.
XmbPicture loadPicture(const QString& fileName);

/// Loads a file that must be a bitmap, whatever its name says; throws kivo::Failure otherwise.
XmbPicture loadBitmap(const QString& fileName);

/// Decodes bytes of a known format (the built-in pictures); a null picture when they are bad.
XmbPicture pictureFromBytes(const QByteArray& bytes, const QByteArray& format);

/// Writes the picture's bytes to path, replacing a file safely. Throws kivo::Failure.
void savePicture(const XmbPicture& picture, const QString& path);

}  // namespace kivo::stick
