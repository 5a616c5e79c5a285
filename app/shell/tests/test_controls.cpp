// The image button's event table and the transparent panel.
#include "shell/imgbtn.h"
#include "shell/tranpanel.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QtTest>

namespace {

QPixmap filled(QColor colour) {
  QPixmap p(27, 15);
  p.fill(colour);
  return p;
}

QColor shown(const TImgBtn& b) { return b.displayed().toImage().pixelColor(3, 3); }

void send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
  QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
void enter(QWidget* w) {
  QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
  QApplication::sendEvent(w, &e);
}
void leave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QApplication::sendEvent(w, &e);
}

}  // namespace

class ControlsTest : public QObject {
  Q_OBJECT
  const QColor normal{Qt::gray}, hot{Qt::blue}, down{Qt::red};

  void dress(TImgBtn& b, QStringList& log) {
    b.setPic(filled(normal));
    b.setPicUp(filled(hot));
    b.setPicDown(filled(down));
    connect(&b, &TImgBtn::clicked, this, [&] { log << "click:" + shown(b).name(); });
    connect(&b, &TImgBtn::OnMouseDown, this, [&] { log << "down:" + shown(b).name(); });
    connect(&b, &TImgBtn::OnMouseUp, this, [&] { log << "up:" + shown(b).name(); });
    connect(&b, &TImgBtn::OnMouseEnter, this, [&] { log << "enter:" + shown(b).name(); });
    connect(&b, &TImgBtn::OnMouseLeave, this, [&] { log << "leave:" + shown(b).name(); });
  }

private slots:
  void imageButtonPicturesFollowPointerAndButton() {
    TImgBtn b;
    QStringList log;
    dress(b, log);
    QCOMPARE(b.size(), QSize(27, 15));  // the button follows its picture
    QVERIFY(!b.hovering() && !b.isPressed());
    QCOMPARE(shown(b), normal);

    enter(&b);
    send(&b, QEvent::MouseButtonPress, {5, 5});
    QVERIFY(b.isPressed());
    send(&b, QEvent::MouseButtonRelease, {5, 5});
    QVERIFY(!b.isPressed());
    leave(&b);
    // The click handler still sees the pressed picture: it runs before the picture changes back.
    QCOMPARE(log, (QStringList{"enter:" + hot.name(), "down:" + down.name(), "click:" + down.name(),
                               "up:" + hot.name(), "leave:" + normal.name()}));
  }

  void imageButtonReleasedOutsideDoesNotClick() {
    TImgBtn b;
    QStringList log;
    dress(b, log);
    enter(&b);
    send(&b, QEvent::MouseButtonPress, {5, 5});
    leave(&b);
    QCOMPARE(shown(b), normal);  // back to Pic as soon as the pointer left
    send(&b, QEvent::MouseButtonRelease, {60, 40});
    QCOMPARE(shown(b), normal);
    QVERIFY(!b.isPressed());
    QVERIFY(!log.join(' ').contains("click"));
    // Coming back while the button is still held shows the pressed picture.
    send(&b, QEvent::MouseButtonPress, {5, 5});
    enter(&b);
    QCOMPARE(shown(b), down);
  }

  void imageButtonPictureProperties() {
    TImgBtn b;
    QStringList log;
    dress(b, log);
    b.setPicUp(filled(Qt::green));  // stored only
    b.setPicDown(filled(Qt::yellow));
    QCOMPARE(shown(b), normal);
    b.setPic(filled(Qt::cyan));  // replaces the picture on display too
    QCOMPARE(shown(b), QColor(Qt::cyan));
    // The right button neither presses nor clicks.
    enter(&b);
    send(&b, QEvent::MouseButtonPress, {5, 5}, Qt::RightButton);
    QVERIFY(!b.isPressed());
    send(&b, QEvent::MouseButtonRelease, {5, 5}, Qt::RightButton);
    QVERIFY(!log.join(' ').contains("click"));
  }

  void unsupportedImageButtonIsAPlainClickablePicture() {
    TImgBtn b;
    QStringList log;
    dress(b, log);
    b.setSupported(false);
    enter(&b);
    send(&b, QEvent::MouseButtonPress, {5, 5});
    send(&b, QEvent::MouseButtonRelease, {5, 5});
    leave(&b);
    QVERIFY(!b.hovering() && !b.isPressed());
    QCOMPARE(shown(b), normal);
    QCOMPARE(log, QStringList{"click:" + normal.name()});
  }

  void transparentPanelShowsWhatLiesBeneath() {
    QWidget parent;
    parent.resize(300, 100);
    parent.setAutoFillBackground(true);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, Qt::magenta);
    parent.setPalette(pal);
    TTranPanel panel(&parent);
    QCOMPARE(panel.size(), QSize(185, 41));
    QVERIFY(!panel.border());
    panel.move(10, 10);
    QImage plain = parent.grab().toImage();
    QCOMPARE(plain.pixelColor(10, 10), QColor(Qt::magenta));
    QCOMPARE(plain.pixelColor(100, 30), QColor(Qt::magenta));
    panel.setBorder(true);
    QImage framed = parent.grab().toImage();
    QCOMPARE(framed.pixelColor(10, 10).rgb(), panel.palette().color(QPalette::Dark).rgb());
    QCOMPARE(framed.pixelColor(194, 50).rgb(), panel.palette().color(QPalette::Dark).rgb());
    QCOMPARE(framed.pixelColor(100, 30), QColor(Qt::magenta));
  }

  void transparentPanelKeepsItsPresses() {
    struct Parent : QWidget {
      int presses = 0;
      void mousePressEvent(QMouseEvent*) override { ++presses; }
    } parent;
    TTranPanel panel(&parent);
    QStringList log;
    connect(&panel, &TTranPanel::OnClick, this, [&] { log << "click"; });
    connect(&panel, &TTranPanel::OnMouseDown, this, [&] { log << "down"; });
    connect(&panel, &TTranPanel::OnMouseUp, this, [&] { log << "up"; });
    send(&panel, QEvent::MouseButtonPress, {5, 5});
    send(&panel, QEvent::MouseButtonRelease, {5, 5});
    send(&panel, QEvent::MouseButtonPress, {5, 5});
    send(&panel, QEvent::MouseButtonRelease, {500, 5});
    QCOMPARE(parent.presses, 0);  // a panel never hands a press on to the window
    QCOMPARE(log, (QStringList{"down", "click", "up", "down", "up"}));
  }
};

QTEST_MAIN(ControlsTest)
#include "test_controls.moc"
