#pragma once
// tScreenGrab: takes a picture of the whole desktop (every screen) into TheBMP.

#include <QObject>
#include <QPixmap>

class tScreenGrab : public QObject {
  Q_OBJECT
  // The rectangle fields are kept for callers; the whole-desktop capture does not use them.
  Q_PROPERTY(qint16 StartX MEMBER StartX)
  Q_PROPERTY(qint16 StartY MEMBER StartY)
  Q_PROPERTY(qint16 width MEMBER width)
  Q_PROPERTY(qint16 height MEMBER height)
  Q_PROPERTY(QString FileName MEMBER FileName)
public:
  explicit tScreenGrab(QObject* parent = nullptr) : QObject(parent) {}

  /// Replaces TheBMP with a picture of the virtual desktop. Nothing is reported: a desktop
  /// that cannot be read leaves an empty or partial picture.
  void GrabScreen();
  const QPixmap& TheBMP() const { return bmp_; }

  qint16 StartX = 0, StartY = 0, width = 0, height = 0;
  QString FileName;

private:
  QPixmap bmp_;
};
