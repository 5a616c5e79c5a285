// The look's parts on their own: translucency, the tray icon's record and balloons, the timer,
// and the theme picture loader.
#include "shell/failure.h"
#include "shell/look/look.h"
#include "shell/tests/kit/fakes.h"

#include <QApplication>
#include <QWidget>
#include <QtTest>

using Msg = TAlphaBlendForm::Message;

namespace {

// A notification area that records what it is told.
struct RecordingArea : NotifyArea {
  bool up = true;
  QStringList calls;
  std::vector<TrayIconData> sent;
  bool available() const override { return up; }
  void add(const TrayIconData& d) override { record("add", d); }
  void modify(const TrayIconData& d) override { record("modify", d); }
  void remove() override { record("remove", {}); }
  void record(const char* what, const TrayIconData& d) {
    calls << QLatin1String(what);
    sent.push_back(d);
  }
};

}  // namespace

class LookPartsTest : public QObject {
  Q_OBJECT
private slots:
  // Whatever the order of activation and move-loop messages, the last one decides the
  // opacity; switching the component off and on again applies the flags it kept.
  void translucencyFollowsTheLastMessage() {
    const Msg all[] = {Msg::Activate, Msg::Deactivate, Msg::EnterSizeMove, Msg::ExitSizeMove};
    for (int code = 0; code < 4 * 4 * 4 * 4; ++code) {
      QWidget form;
      TAlphaBlendForm alpha(&form);
      alpha.setSizeMoveValue(150);
      alpha.setDeactivateValue(100);
      alpha.setActive(true);
      QCOMPARE(alpha.formOpacity(), 255);
      bool moving = false, inactive = false;
      int expected = 255;
      QString order;
      for (int i = 0, c = code; i < 4; ++i, c /= 4) {
        const Msg m = all[c % 4];
        order += QString::number(c % 4);
        alpha.message(m);
        switch (m) {
        case Msg::Activate: inactive = false; expected = 255; break;
        case Msg::Deactivate: inactive = true; expected = 100; break;
        case Msg::EnterSizeMove: moving = true; expected = 150; break;
        case Msg::ExitSizeMove: moving = false; expected = 255; break;
        }
        QVERIFY2(qAbs(alpha.formOpacity() - expected) <= 1, qPrintable(order));
      }
      QCOMPARE(alpha.moving(), moving);
      QCOMPARE(alpha.inactive(), inactive);
      alpha.setActive(false);
      QCOMPARE(alpha.formOpacity(), 255);
      alpha.message(Msg::Deactivate);  // ignored while off
      alpha.message(Msg::EnterSizeMove);
      QCOMPARE(alpha.moving(), moving);
      QCOMPARE(alpha.formOpacity(), 255);
      alpha.setActive(true);
      QVERIFY2(qAbs(alpha.formOpacity() - (moving ? 150 : inactive ? 100 : 255)) <= 1, qPrintable(order));
    }
  }

  void translucencySetters() {
    QWidget form;
    TAlphaBlendForm alpha(&form);
    QCOMPARE(alpha.active(), false);
    QCOMPARE(alpha.sizeMoveValue(), 128);
    QCOMPARE(alpha.deactivateValue(), 192);
    QVERIFY(alpha.sizeMoveAllow() && alpha.deactivateAllow());
    alpha.setActive(true);
    alpha.message(Msg::Deactivate);
    QCOMPARE(alpha.formOpacity(), 192);
    alpha.setDeactivateValue(90);  // inactive now: shown at once
    QCOMPARE(alpha.formOpacity(), 90);
    alpha.setSizeMoveValue(60);  // not moving: nothing shown
    QCOMPARE(alpha.formOpacity(), 90);
    alpha.setDeactivateAllow(false);
    QCOMPARE(alpha.formOpacity(), 255);
    alpha.message(Msg::Deactivate);
    QCOMPARE(alpha.formOpacity(), 255);
    alpha.setDeactivateAllow(true);
    QCOMPARE(alpha.formOpacity(), 90);
    alpha.message(Msg::EnterSizeMove);
    QCOMPARE(alpha.formOpacity(), 60);
    alpha.setSizeMoveAllow(false);
    QCOMPARE(alpha.formOpacity(), 255);
  }

  // The form's real events drive it: activation changes and a move loop that ends on release.
  void translucencyHearsTheForm() {
    QWidget form, other;
    TAlphaBlendForm alpha(&form);
    alpha.setSizeMoveValue(200);
    alpha.setDeactivateValue(200);
    alpha.setActive(true);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(alpha.formOpacity(), 255);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QCOMPARE(alpha.formOpacity(), 200);
    QVERIFY(alpha.inactive());

    kivo::beginMoveLoop(&form);
    QVERIFY(alpha.moving());
    QVERIFY(kivo::inMoveLoop(&form));
    QTest::mouseRelease(&other, Qt::LeftButton);  // the release may land anywhere
    QVERIFY(!alpha.moving());
    QVERIFY(!kivo::inMoveLoop(&form));
    QCOMPARE(alpha.formOpacity(), 255);  // a finished drag is opaque, even inactive
  }

  void timerRules() {
    int ticks = 0;
    TSimpleTimer timer(0, [&] { ++ticks; });
    QVERIFY(!timer.setEnabled(true));  // no interval, no timer
    timer.setInterval(30);
    QVERIFY(!timer.enabled());
    QVERIFY(timer.setEnabled(true));
    QTRY_VERIFY(ticks >= 2);
    timer.setInterval(0);
    QVERIFY(!timer.enabled());
    TSimpleTimer plain;
    QCOMPARE(plain.interval(), 1000);
  }

  void trayRecordCutsHintAndBalloon() {
    auto* area = new RecordingArea;
    TCoolTrayIcon tray(nullptr, std::unique_ptr<NotifyArea>(area));
    QVERIFY(!tray.iconVisible());
    tray.setHint(QString(200, QLatin1Char('h')));
    QCOMPARE(tray.data().tip.size(), 127);
    tray.setShowHint(false);
    QVERIFY(tray.data().tip.isEmpty());
    QVERIFY(area->calls.isEmpty());  // nothing is sent while the icon is not shown

    tray.setIconVisible(!tray.iconVisible());
    QCOMPARE(area->calls, QStringList{"add"});
    tray.ShowBalloonHint(QString(80, QLatin1Char('t')), QString(300, QLatin1Char('b')), TCoolTrayIcon::bitWarning, 7);
    // An empty balloon first takes down any balloon showing, then the new one goes out.
    QCOMPARE(area->calls, (QStringList{"add", "modify", "modify"}));
    QVERIFY(area->sent[1].withBalloon && area->sent[1].info.isEmpty());
    const TrayIconData& balloon = area->sent[2];
    QVERIFY(balloon.withBalloon);
    QCOMPARE(balloon.info.size(), 255);
    QCOMPARE(balloon.infoTitle.size(), 63);
    QCOMPARE(balloon.timeoutMs, 7000);
    QCOMPARE(balloon.infoFlags, 2);
    QVERIFY(!tray.data().withBalloon);  // later refreshes carry no balloon

    tray.setIconVisible(!tray.iconVisible());
    QCOMPARE(area->calls.last(), QStringLiteral("remove"));
  }

  void trayComesBackWithTheArea() {
    auto* area = new RecordingArea;
    TCoolTrayIcon tray(nullptr, std::unique_ptr<NotifyArea>(area));
    area->onRecreated();
    QVERIFY(area->calls.isEmpty());  // not shown: nothing to add again
    tray.setIconVisible(true);
    area->onRecreated();
    QCOMPARE(area->calls, (QStringList{"add", "add"}));

    // A panel that restarts keeps the tray state; one that stays away gives the window back.
    int lost = 0;
    tray.OnAreaLost = [&] { ++lost; };
    tray.lostGraceMs = 60;
    area->onLost();
    area->onRecreated();
    QTest::qWait(150);
    QCOMPARE(lost, 0);
    area->onLost();
    QTRY_COMPARE(lost, 1);
    QTest::qWait(150);
    QCOMPARE(lost, 1);
  }

  void trayMouse() {
    auto* area = new RecordingArea;
    TCoolTrayIcon tray(nullptr, std::unique_ptr<NotifyArea>(area));
    int doubles = 0, singles = 0;
    tray.OnDblClick = [&] { ++doubles; };
    area->onMouse(NotifyArea::Mouse::DoubleClick);
    QCOMPARE(doubles, 1);
    tray.Enabled = false;
    area->onMouse(NotifyArea::Mouse::DoubleClick);
    QCOMPARE(doubles, 1);
    tray.Enabled = true;
    // A single click is told only when no double click follows it.
    tray.OnClick = [&] { ++singles; };
    area->onMouse(NotifyArea::Mouse::Click);
    area->onMouse(NotifyArea::Mouse::DoubleClick);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    QCOMPARE(singles, 0);
    area->onMouse(NotifyArea::Mouse::Click);
    QTRY_COMPARE(singles, 1);
  }

  // Restoring the window from its taskbar entry brings it back even when it was hidden.
  void trayOwnerRestoredFromTaskbar() {
    QWidget form;
    TCoolTrayIcon tray(&form, std::make_unique<RecordingArea>());
    form.show();
    form.setWindowState(Qt::WindowMinimized);
    form.hide();
    form.setWindowState(Qt::WindowNoState);
    QVERIFY(form.isVisible());
    tray.HideMainForm();
    QVERIFY(!form.isVisible());
    tray.ShowMainForm();
    QVERIFY(form.isVisible());
    QVERIFY(!(form.windowState() & Qt::WindowMinimized));
  }

  void themePictureLoader() {
    kivo::testing::TempProgramFolder folder;
    try {
      kivo::look::loadThemePicture(QStringLiteral("gfx/Themes/Nope/FrameTop.gif"));
      QFAIL("a missing picture must fail");
    } catch (const kivo::Failure& f) {
      QCOMPARE(f.text(), QStringLiteral("Cannot open file \"gfx/Themes/Nope/FrameTop.gif\". No such file or directory"));
    }
    // The extension names the format: PNG bytes under a .gif name are not a GIF.
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(folder.filePath("pic.png")));
    QFile::copy(folder.filePath("pic.png"), folder.filePath("pic.gif"));
    QCOMPARE(kivo::look::loadThemePicture("pic.png").size(), QSize(4, 4));
    QVERIFY_THROWS_EXCEPTION(kivo::Failure, kivo::look::loadThemePicture("pic.gif"));
  }
};

QTEST_MAIN(LookPartsTest)
#include "test_look_parts.moc"
