#pragma once
// A label that acts as a button: hand cursor, clicked() on release over it, and optionally the
// press look (one pixel right and down while a mouse button is held on it).

#include <QLabel>

namespace kivo {

class ClickLabel : public QLabel {
  Q_OBJECT
public:
  explicit ClickLabel(const QString& text = {}, QWidget* parent = nullptr);

  /// The common press look: moves by (+1, +1) on press and back on release.
  void setPressLook(bool on) { pressLook_ = on; }
  bool pressLook() const { return pressLook_; }

signals:
  void clicked();
  void pressed(Qt::MouseButton button);
  void released(Qt::MouseButton button);
  void doubleClicked();

protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
  bool pressLook_ = false;
  Qt::MouseButtons held_;
};

}  // namespace kivo
