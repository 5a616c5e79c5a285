#pragma once
// Pictures of the EBOOT maker: the loader behind the previews and the built-in pictures the
// page shows before the user picks any.

#include <QImage>
#include <QString>

namespace kivo {

/// Loads a picture by its extension; throws Failure with the loader's message when the
/// extension is not a picture type ("Unknown picture file extension (.%s)") or the file
/// cannot be read.
QImage loadPicture(const QString& path);

/// Built-in pictures, drawn at the size they are shown.
QImage defaultBackground(const QSize& size);   ///< PIC1
QImage defaultInformation(const QSize& size);  ///< PIC0: a see-through outline until one is picked
QImage defaultIcon(const QSize& size);         ///< ICON0
QImage iconShadow(const QSize& size);
QImage previewFrame(const QSize& size);        ///< bgline2: a frame, clear inside
QImage movieSymbol(int side);
QImage soundSymbol(int side);

}  // namespace kivo
