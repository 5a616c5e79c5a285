#pragma once
// The built-in pictures of the two stick pages, drawn by the program itself: the six XMB icons
// (64 x 64, 256-colour bitmaps, the form the page asks the user for), the wallpaper (480 x 272,
// 24-bit bitmap) and the decorations.

#include <QByteArray>
#include <QImage>

namespace kivo::stick {

/// The file bytes of the built-in icon of slot 1 to 6: an 8-bit BMP with a palette. Its
/// bottom-left pixel holds the background colour, which the preview shows as transparent.
QByteArray builtInIcon(int slot);

/// The file bytes of the built-in wallpaper: a 24-bit BMP of 480 x 272.
QByteArray builtInWallpaper();

/// Decorations: the preview's frame, the Plugins page's memory stick, the XMB page's picture,
/// and the arrow of the add buttons (normal, hovered, pressed).
QImage previewFrame(int width, int height);
QImage memoryStickArt();
QImage xmbPageArt();
enum class ArrowLook { Normal, Hover, Pressed };
QImage arrowArt(ArrowLook look);

}  // namespace kivo::stick
