// The main window under a window manager (openbox), driven with real X input (xdotool): theme
// picks leave it shown where it was, a tap on the title strip does not drag it, and the tool
// activity view finds a place beside it without covering its footer.
#include "shell/activityhost.h"
#include "shell/clicklabel.h"
#include "shell/formMain.h"
#include "shell/page.h"
#include "shell/processrunner.h"
#include "shell/tests/kit/fakes.h"

#include <QComboBox>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QtTest>

using namespace kivo::testing;

namespace {

QString run(const QString& program, const QStringList& arguments) {
  QProcess p;
  p.start(program, arguments);
  if (!p.waitForFinished(10000)) return {};
  return QString::fromLocal8Bit(p.readAllStandardOutput());
}

bool windowManagerRuns() { return run(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); }

// The ICCCM state the window manager gave the window: "Normal" or "Iconic".
QString wmState(const QWidget& w) {
  const QString out = run(QStringLiteral("xprop"), {"-id", QString::number(w.winId()), "WM_STATE"});
  const qsizetype at = out.indexOf(QLatin1String("window state: "));
  return at < 0 ? QString() : out.mid(at + 14).section(QLatin1Char('\n'), 0, 0).trimmed();
}

void xdo(const QStringList& arguments) { run(QStringLiteral("xdotool"), arguments); }

class NoNotices : public kivo::Notifier {
public:
  void notify(const kivo::Notice&) override {}
};

}  // namespace

class DesktopWmTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    if (!windowManagerRuns()) QSKIP("no window manager (run under with_wm.sh)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
      QSKIP("xdotool is not installed (scripts/deps.sh installs it)");
    kivo::installFontSubstitutes();
    QVERIFY(QDir::setCurrent(QStringLiteral(KIVO_PROGRAM_DIR)));
  }

  // The window manager may carry a theme change's minimize out after its restore; the window
  // must still be shown, in its place, after every pick.
  void everyThemePickLeavesTheWindowShown() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {QStringLiteral("x.prx")});  // no backdrop in such a run
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::qWait(300);
    const QPoint at = w.pos();
    const QStringList picks{"Vista Black", "Vista Silver", "Vista Glass"};
    for (int k = 0; k < 12; ++k) {
      w.theme->setEditText(picks[k % 3]);
      QTest::qWait(700);
      QVERIFY2(w.isVisible() && !w.isMinimized(), qPrintable(QStringLiteral("pick %1").arg(k + 1)));
      QCOMPARE(wmState(w), QStringLiteral("Normal"));
      QCOMPARE(w.pos(), at);
    }
    QVERIFY(fakes.messages.boxes.empty());
  }

  // A click without a hold (a touchpad tap) on the title strip leaves the window where it is;
  // pressing, moving and releasing still moves it.
  void onlyAHeldButtonDrags() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {QStringLiteral("x.prx")});
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::qWait(300);
    const QPoint at = w.pos();
    const QPoint strip = w.mapToGlobal(QPoint(400, 20));
    const QString x = QString::number(strip.x()), y = QString::number(strip.y());
    xdo({"mousemove", x, y});
    QTest::qWait(200);
    xdo({"click", "1"});
    QTest::qWait(300);
    xdo({"mousemove", QString::number(strip.x() + 120), QString::number(strip.y() + 90)});
    QTest::qWait(600);
    const QPoint afterTap = w.pos();
    if (afterTap != at) xdo({"key", "Escape"});  // end the window manager's move for what follows
    QCOMPARE(afterTap, at);
    QTRY_COMPARE(w.alpha1->formOpacity(), 255);  // the move loop ended with the release

    xdo({"mousemove", x, y});
    QTest::qWait(200);
    xdo({"mousedown", "1"});
    QTest::qWait(100);
    for (int step = 1; step <= 8; ++step) {
      xdo({"mousemove", QString::number(strip.x() + 10 * step), QString::number(strip.y() + 8 * step)});
      QTest::qWait(40);
    }
    xdo({"mouseup", "1"});
    QTRY_VERIFY_WITH_TIMEOUT((w.pos() - at).manhattanLength() > 100, 3000);
  }

  // On a 1280 x 1024 screen the view cannot go whole beside the centred window: it takes the room
  // below it (or above), on the screen, frame and all, and covers neither the title strip nor the
  // footer with its "Tool activity" link and options.
  void theActivityViewStaysClearOfTheWindow() {
    FakeServices fakes;
    FakePlayer player;
    kivo::ProcessRunner runner;
    kivo::Services services{runner, fakes.dialogs, fakes.messages, fakes.clock};
    TfrmMain w(services, player, {QStringLiteral("x.prx")});
    NoNotices notices;
    auto* host = new kivo::ActivityHost(&w, runner, notices, [&w] { return kivo::presenceOf(&w); });
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::qWait(300);
    TempProgramFolder program;
    runner.startAndForget(QStringLiteral("\"bin\\usbkey.exe\""), kivo::SW_SHOWNORMAL);
    QTRY_VERIFY(host->view->isVisible());
    QTest::qWait(800);  // the window manager frames and places it
    const QRect view = host->view->frameGeometry(), main = w.frameGeometry();
    const QRect room = w.screen()->availableGeometry();
    QVERIFY2(room.contains(view), qPrintable(QStringLiteral("view %1,%2 %3x%4").arg(view.x()).arg(view.y())
                                                 .arg(view.width()).arg(view.height())));
    QVERIFY(!view.intersects(QRect(main.left(), main.top(), main.width(), 65)));
    QVERIFY(!view.intersects(QRect(main.left(), main.bottom() - 77, main.width(), 78)));
    QVERIFY(!view.intersects(host->reopen->geometry().translated(w.geometry().topLeft())));
  }
};

QTEST_MAIN(DesktopWmTest)
#include "test_desktop_wm.moc"
