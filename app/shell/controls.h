#pragma once
// Builders for the small controls the pages share. Each names the control (object name), so a
// page can make its controls in its constructor's initialiser list.

#include "clicklabel.h"

#include <QRect>
#include <QStringList>

class QLineEdit;
class QPlainTextEdit;

namespace kivo {

template <class W> W* named(W* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

/// A label in a fixed place.
QLabel* label(QWidget* parent, const char* name, const QString& text, QRect place, bool wordWrap = false);
/// A label at a point, sized to its text.
QLabel* label(QWidget* parent, const char* name, const QString& text, QPoint at);

/// Read-only text that reads as part of the page: on the page grey, without border, scroll
/// bars, focus or margin.
QPlainTextEdit* helpText(QWidget* parent, const char* name, const QStringList& lines, QRect place);

enum class PressLook { Off, On };

/// A link: underlined, in the title blue while enabled (a disabled one greys out like any
/// control), sized to its text.
ClickLabel* linkLabel(QWidget* parent, const char* name, const QString& text, QPoint at,
                      PressLook press = PressLook::Off);

/// A one-line edit; `buddy` is the label that names it.
QLineEdit* edit(QWidget* parent, const char* name, const QString& text, QRect place, QLabel* buddy);

}  // namespace kivo
