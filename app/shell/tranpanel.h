#pragma once
// TTranPanel: a container without a background of its own, so the window's pictures show
// through and only its children are drawn; optionally a one-pixel border.

#include <QWidget>

class TTranPanel : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Border READ border WRITE setBorder)
public:
  explicit TTranPanel(QWidget* parent = nullptr);
  bool border() const { return border_; }
  void setBorder(bool on);

signals:
  void OnClick();
  void OnMouseDown(QMouseEvent* event);
  void OnMouseMove(QMouseEvent* event);
  void OnMouseUp(QMouseEvent* event);

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  bool border_ = false;
};
