#pragma once
// The window's three looks: which pictures each one loads, in which order, from which folder,
// and the settings it applies afterwards. No widgets here; the window applies the result.

#include <QColor>
#include <QPixmap>
#include <QString>
#include <optional>
#include <vector>

namespace kivo::look {

/// The window's transparent colour: sky blue.
inline const QColor kColourKey{0xA6, 0xCA, 0xF0};

/// Where a theme picture goes.
enum class Slot {
  FrameLeft, FrameRight, FrameBottom, FrameTop,
  MinPic, MinShown, MinUp, MinDown,
  ClosePic, CloseShown, CloseUp, CloseDown,
  MaxPic
};

struct PictureLoad {
  Slot slot;
  QString path;  ///< relative to the program folder, native separators
};

struct ThemeSettings {
  QColor titleColour;
  bool paintBackground;         ///< false: the background is left unpainted (clear brush)
  std::optional<QColor> backgroundColour;  ///< set only when the theme gives one
  bool colourKey;
  std::optional<int> buttonPanelHeight;    ///< set only when the theme gives one
  bool clearButtonPanel;
  bool translucency;
};

struct Theme {
  QString name;
  std::vector<PictureLoad> loads;  ///< the thirteen pictures, in loading order
  ThemeSettings settings;
};

/// The theme whose name is exactly the text (letter case counts), or none.
std::optional<Theme> findTheme(const QString& text);

/// Reads a theme picture; the format follows the file's extension. A file that is missing or
/// cannot be read throws kivo::Failure("Cannot open file \"path\". reason").
QPixmap loadThemePicture(const QString& path);

/// How the window's background is painted.
struct WindowBackground {
  bool painted = true;
  QColor colour = Qt::white;
  bool colourKey = false;
  /// With the key on, pixels of the key colour are see-through.
  bool seeThrough() const { return colourKey && colour == kColourKey; }
};

}  // namespace kivo::look
