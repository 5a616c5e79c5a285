// The look on a real X screen: the tray round trip (with a notification area of its own when
// trayer is installed) and pictures of the three themes.
#include "shell/formMain.h"
#include "shell/page.h"
#include "shell/tests/kit/fakes.h"

#include <QComboBox>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QtTest>

using namespace kivo::testing;

namespace {

// Whether a window of this program sits inside trayer's panel, from the X window tree.
bool iconInPanel() {
  QProcess tree;
  tree.start(QStringLiteral("xwininfo"), {"-root", "-tree"});
  if (!tree.waitForFinished(5000)) return false;
  const QStringList lines = QString::fromLocal8Bit(tree.readAllStandardOutput()).split(QLatin1Char('\n'));
  const QString self = QCoreApplication::applicationName();
  int panelIndent = -1;
  for (const QString& line : lines) {
    const int indent = int(line.size() - line.trimmed().size());
    if (line.contains(QLatin1String("\"panel\": (\"panel\" \"trayer\")"))) {
      panelIndent = indent;
      continue;
    }
    if (panelIndent < 0) continue;
    if (indent <= panelIndent) panelIndent = -1;
    else if (line.contains(self)) return true;
  }
  return false;
}

QWidget* findBalloon() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->objectName() == QLatin1String("trayBalloon")) return w;
  return nullptr;
}

}  // namespace

class LookDesktopTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    kivo::installFontSubstitutes();
    // The themes live in the built program folder.
    QVERIFY(QDir::setCurrent(QStringLiteral(KIVO_PROGRAM_DIR)));
  }

  void trayRoundTrip() {
    const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
    if (trayer.isEmpty()) QSKIP("trayer is not installed (scripts/deps.sh installs it)");
    QProcess panel;
    panel.start(trayer, {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "120"});
    QVERIFY(panel.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);

    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.gototrayClick();
    QVERIFY(!w.isVisible());
    QVERIFY(w.tray1->iconVisible());
    const TrayIconData& sent = w.tray1->data();
    QCOMPARE(sent.infoTitle, QStringLiteral("Kivo is hidden."));
    QCOMPARE(sent.info, QStringLiteral("Kivo Workbench has been minimized to the tray. Double click the icon below to restore.\r"));
    QCOMPARE(sent.infoFlags, 1);
    QCOMPARE(sent.timeoutMs, 10000);
    QVERIFY(sent.tip.isEmpty());
    if (const char* dir = getenv("KIVO_LOOK_SHOTS")) {
      QTest::qWait(500);
      QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(dir) + "/tray.png");
    }

    QTRY_VERIFY_WITH_TIMEOUT(iconInPanel(), 5000);
    // The balloon stands beside the icon, in the panel at the bottom right, not in a corner far
    // from it; it names the double click, which works in this tray.
    QVERIFY(!w.tray1->activatesOnClick());
    QWidget* balloon = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((balloon = findBalloon()) != nullptr, 5000);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QVERIFY2(balloon->geometry().center().x() > screen.center().x() &&
                 balloon->geometry().center().y() > screen.center().y(),
             qPrintable(QStringLiteral("balloon at %1,%2").arg(balloon->x()).arg(balloon->y())));
    QVERIFY(balloon->geometry().bottom() < screen.bottom() - 10);  // above the panel, not on it
    // The panel goes and comes back: the icon is added to the new one.
    panel.terminate();
    panel.waitForFinished();
    QTRY_VERIFY(!iconInPanel());
    panel.start(trayer, {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "120"});
    QVERIFY(panel.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(iconInPanel(), 8000);

    w.tray1DblClick();
    QVERIFY(w.isVisible());
    QVERIFY(!(w.windowState() & Qt::WindowMinimized));
    QVERIFY(!w.tray1->iconVisible());
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(!iconInPanel());
    panel.terminate();
    panel.waitForFinished();
  }

  // Hiding the window for a backdrop capture must not leave it inactive and translucent: the
  // first tick after a normal start (the window was centred) and every diagonal move.
  void backdropKeepsTheWindowActive() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    for (const QPoint to : {QPoint(-1, -1), QPoint(90, 70), QPoint(200, 160)}) {
      if (to.x() >= 0) w.move(to);
      const WId id = w.winId();
      w.movedTimer();
      QVERIFY(!w.captured->pixmap().isNull());  // a backdrop was taken
      QTRY_VERIFY(w.isActiveWindow());
      QTRY_COMPARE(w.alpha1->formOpacity(), 255);
      QCOMPARE(w.winId(), id);
      w.captured->clear();
    }
    // A click inside keeps it so. (A window manager may still be handing the focus over from
    // the last re-show, so the state is awaited rather than sampled.)
    QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, QPoint(400, 20));
    QTRY_VERIFY(w.isActiveWindow());
    QTRY_COMPARE(w.alpha1->formOpacity(), 255);
  }

  // On the screen the margin outside the frame is white at start, not the black of a window
  // that paints nothing there.
  void marginIsWhiteOnTheScreen() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {"x.prx"});  // no backdrop in such a run
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(100);
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    QCOMPARE(screen.pixelColor(w.geometry().topLeft() + QPoint(3, 300)), QColor(Qt::white));
  }

  // Every page in every look, built-in first, without an error box; with KIVO_LOOK_SHOTS set,
  // the screen is saved for each.
  void everyPageInEveryTheme() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(300);
    w.movedTimer();  // first tick after centring: a backdrop
    const QList<std::pair<const char*, void (TfrmMain::*)()>> pages = {
        {"home", &TfrmMain::labelHomeClick},   {"convert", &TfrmMain::labelConvertClick},
        {"shell", &TfrmMain::labelShellClick}, {"link", &TfrmMain::LabelLinkClick},
        {"plugins", &TfrmMain::prxmanagerClick}, {"xmb", &TfrmMain::LabelXMBClick},
        {"about", &TfrmMain::Label2Click}};
    for (const QString& name : {QStringLiteral("Built-in"), QStringLiteral("Vista Black"), QStringLiteral("Vista Silver"),
                                QStringLiteral("Vista Glass")}) {
      if (name != QLatin1String("Built-in")) w.theme->setEditText(name);
      QVERIFY(fakes.messages.boxes.empty());
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      for (const auto& [page, click] : pages) {
        (w.*click)();
        QTest::qWait(150);
        if (const char* dir = getenv("KIVO_LOOK_SHOTS"))
          QGuiApplication::primaryScreen()->grabWindow(0).copy(w.geometry().adjusted(-20, -20, 20, 20))
              .save(QStringLiteral("%1/%2-%3.png").arg(QString::fromLocal8Bit(dir), name, QLatin1String(page)));
      }
    }
  }
};

QTEST_MAIN(LookDesktopTest)
#include "test_look_desktop.moc"
