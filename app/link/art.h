#pragma once
// The pages' decorative pictures, drawn so the program needs no picture files for them.

#include <QPixmap>

namespace kivo::art {

enum class Picture { Globe, Usb, Network, Keyboard, Registry, Desktop, ContextMenu };

QPixmap draw(Picture picture, QSize size);

}  // namespace kivo::art
