#pragma once
// Base of the seven pages: a frame of 785 x 474 on the page grey, holding the services.

#include "services.h"

#include <QFrame>

class QLabel;

namespace kivo {

class Page : public QFrame {
  Q_OBJECT
public:
  explicit Page(Services& services, QWidget* parent = nullptr);

protected:
  Services& services() const { return services_; }

  /// The page title: Verdana 16 px bold in the page blue.
  QLabel* makeTitle(const QString& text, int left = 8, int top = 8);

  /// Runs a handler body; a failure it does not catch ends it with the error box.
  template <class F> void handle(F&& body) { guarded(services_.messages, std::forward<F>(body)); }

private:
  Services& services_;
};

/// Fonts named by the look (Verdana, Tahoma, Segoe UI, Lucida Console) at a pixel size; on
/// Linux the names resolve to close free fonts through Qt's substitution table.
QFont pixelFont(const QString& family, int px, bool bold = false);

/// A PNG picture from the program's resources (":/art/x.png"), null when it is missing. Read as
/// PNG outright: left to guess, the image reader first loads every image plug-in (SVG's among them).
QPixmap builtInPicture(const QString& resource);

/// Decodes built-in pictures ahead of their builtInPicture(), which then only takes them over.
/// Needs no application object, so the start can do it while the display is not yet connected.
void decodeBuiltInPictures(const QStringList& resources);

/// Registers the free substitutes for the Windows fonts the look names; called once at start.
void installFontSubstitutes();

inline const QColor kPageGrey{244, 244, 244};
inline const QColor kTitleBlue{53, 151, 216};

}  // namespace kivo

#include "failure.h"
