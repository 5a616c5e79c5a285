#include "themes.h"

#include "shell/failure.h"
#include "shell/platform.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace kivo::look {

namespace {

std::vector<PictureLoad> loadsFrom(const QString& frames, const QString& buttons, const QString& ext) {
  const auto at = [&](const QString& folder, const char* base) {
    return findIgnoringCase(native(QStringLiteral("gfx\\Themes\\") + folder + QLatin1Char('\\') +
                                   QLatin1String(base) + ext));
  };
  return {
      {Slot::FrameLeft, at(frames, "FrameLeft")},
      {Slot::FrameRight, at(frames, "FrameRight")},
      {Slot::FrameBottom, at(frames, "FrameBottom")},
      {Slot::FrameTop, at(frames, "FrameTop")},
      {Slot::MinPic, at(buttons, "ButtonMinOff")},
      {Slot::MinShown, at(buttons, "ButtonMinOff")},
      {Slot::MinUp, at(buttons, "ButtonMinOn")},
      {Slot::MinDown, at(buttons, "ButtonMinOn")},
      {Slot::ClosePic, at(buttons, "ButtoncloseOff")},
      {Slot::CloseShown, at(buttons, "ButtoncloseOff")},
      {Slot::CloseUp, at(buttons, "ButtoncloseOn")},
      {Slot::CloseDown, at(buttons, "ButtoncloseOn")},
      {Slot::MaxPic, at(buttons, "ButtonMaxOff")},
  };
}

}  // namespace

std::optional<Theme> findTheme(const QString& text) {
  const QString gif = QStringLiteral(".gif");
  if (text == QLatin1String("Vista Black"))
    return Theme{text, loadsFrom(QStringLiteral("Vista Black"), QStringLiteral("Vista black"), gif),
                 {QColor(0xF7, 0xF7, 0xF7), true, kColourKey, true, std::nullopt, false, true}};
  if (text == QLatin1String("Vista Silver"))
    return Theme{text, loadsFrom(QStringLiteral("Vista Silver"), QStringLiteral("Vista Silver"), gif),
                 {QColor(0xF4, 0xF4, 0xF4), true, kColourKey, true, std::nullopt, false, true}};
  if (text == QLatin1String("Vista Glass"))
    return Theme{text, loadsFrom(QStringLiteral("Vista Glass"), QStringLiteral("Vista Glass"), QStringLiteral(".png")),
                 {QColor(Qt::black), false, std::nullopt, false, 15, true, false}};
  return std::nullopt;
}

QPixmap loadThemePicture(const QString& path) {
  const auto fail = [&](const QString& reason) {
    return Failure(QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason));
  };
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw fail(file.errorString());
  // The extension names the format, whatever the bytes look like.
  QImageReader reader(&file, QFileInfo(path).suffix().toLower().toLatin1());
  reader.setAutoDetectImageFormat(false);
  const QImage image = reader.read();
  if (image.isNull()) throw fail(reader.errorString());
  return QPixmap::fromImage(image);
}

}  // namespace kivo::look
