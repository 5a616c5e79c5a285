#pragma once
// TImgBtn: a picture that acts as a button, with a hover picture and a pressed picture.

#include <QLabel>
#include <QPixmap>

class TImgBtn : public QLabel {
  Q_OBJECT
  Q_PROPERTY(QPixmap Pic READ pic WRITE setPic)
  Q_PROPERTY(QPixmap PicUp READ picUp WRITE setPicUp)
  Q_PROPERTY(QPixmap PicDown READ picDown WRITE setPicDown)
  Q_PROPERTY(bool Supported READ supported WRITE setSupported)
public:
  explicit TImgBtn(QWidget* parent = nullptr);

  QPixmap pic() const { return pic_; }
  /// Also replaces the picture on display.
  void setPic(const QPixmap& p);
  QPixmap picUp() const { return picUp_; }
  void setPicUp(const QPixmap& p) { picUp_ = p; }
  QPixmap picDown() const { return picDown_; }
  void setPicDown(const QPixmap& p) { picDown_ = p; }
  bool supported() const { return supported_; }
  void setSupported(bool on) { supported_ = on; }

  /// The picture on display (a theme may set it apart from Pic).
  void setDisplayed(const QPixmap& p);
  QPixmap displayed() const { return pixmap(); }
  bool hovering() const { return hovering_; }
  bool isPressed() const { return pressed_; }

signals:
  void clicked();
  void OnMouseDown();
  void OnMouseUp();
  void OnMouseEnter();
  void OnMouseLeave();

protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  QPixmap pic_, picUp_, picDown_;
  bool supported_ = true;
  bool hovering_ = false;
  bool pressed_ = false;
};
