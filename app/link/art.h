#pragma once
// The pages' decorative pictures, drawn so the program needs no picture files for them.

#include <QPixmap>
#include <QRect>

class QLabel;
class QWidget;

namespace kivo::art {

enum class Picture { Globe, Usb, Network, Keyboard, Registry, Desktop, ContextMenu };

QPixmap draw(Picture picture, QSize size);

/// A label showing the picture drawn to fill `place`.
QLabel* picture(QWidget* parent, const char* name, Picture what, QRect place);

}  // namespace kivo::art
