// The look on the main window: theme changes as the user types, the backdrop rule and the
// tray fallback.
#include "shell/clicklabel.h"
#include "shell/formMain.h"
#include "shell/imgbtn.h"
#include "shell/page.h"
#include "shell/tests/kit/fakes.h"
#include "shell/tranpanel.h"

#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QtTest>

using namespace kivo::testing;

namespace {

// The shipped theme sets, copied into a program folder of the test's own.
struct ThemedFolder {
  TempProgramFolder folder;
  ThemedFolder() {
    const QString from = QStringLiteral(KIVO_PROGRAM_DIR "/gfx");
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString file = it.next();
      const QString rel = QStringLiteral("gfx") + file.mid(from.size());
      folder.write(rel, QByteArray());
      QFile::remove(folder.filePath(rel));
      QFile::copy(file, folder.filePath(rel));
    }
  }
};

QImage image(const QPixmap& p) { return p.toImage().convertToFormat(QImage::Format_ARGB32); }
QImage file(const QString& path) { return image(QPixmap(path)); }

QColor titleColour(const TfrmMain& w) { return w.FrameTitle->palette().color(QPalette::WindowText); }

}  // namespace

class LookWindowTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { kivo::installFontSubstitutes(); }

  // Every keystroke resets the button panel and the translucency; the theme itself comes only
  // with the last letter, pictures from both spellings of the Black folder.
  void typingAThemeNameLetterByLetter() {
    ThemedFolder themes;
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    const QImage builtInTop = image(w.FrameTop->pixmap());
    w.theme->clearEditText();
    const QString name = QStringLiteral("Vista Black");
    for (int i = 0; i < name.size(); ++i) {
      w.PanelBtns->resize(93, 25);
      w.alpha1->setActive(false);
      QTest::keyClick(w.theme->lineEdit(), name.at(i).toLatin1());
      QCOMPARE(w.PanelBtns->height(), 17);
      QVERIFY(w.alpha1->active());
      if (i + 1 < name.size()) QCOMPARE(image(w.FrameTop->pixmap()), builtInTop);
    }
    QCOMPARE(w.theme->currentText(), name);
    QVERIFY(fakes.messages.boxes.empty());
    QCOMPARE(image(w.FrameTop->pixmap()), file("gfx/Themes/Vista Black/FrameTop.gif"));
    const QImage minOn = file("gfx/Themes/Vista Black/ButtonMinOn.gif");
    QCOMPARE(image(w.btnMin->pic()), file("gfx/Themes/Vista Black/ButtonMinOff.gif"));
    QCOMPARE(image(w.btnMin->displayed()), image(w.btnMin->pic()));
    QCOMPARE(image(w.btnMin->picUp()), minOn);
    QCOMPARE(image(w.btnMin->picDown()), minOn);
    QCOMPARE(image(w.btnClose->picDown()), file("gfx/Themes/Vista Black/ButtoncloseOn.gif"));
    QCOMPARE(image(w.btnMax->pixmap()), file("gfx/Themes/Vista Black/ButtonMaxOff.gif"));
    QCOMPARE(titleColour(w), QColor(0xF7, 0xF7, 0xF7));
    QVERIFY(w.background().painted && w.background().colourKey);
    QVERIFY(w.background().seeThrough());
    QVERIFY(w.alpha1->active());
  }

  void textsThatMatchNoTheme() {
    ThemedFolder themes;
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    const QImage builtInTop = image(w.FrameTop->pixmap());
    for (const QString& text : {QStringLiteral("vista black"), QString(), QStringLiteral("Vista Black ")}) {
      w.PanelBtns->resize(93, 25);
      w.alpha1->setActive(false);
      w.theme->setEditText(text);
      QCOMPARE(w.PanelBtns->height(), 17);
      QVERIFY(w.alpha1->active());
      QCOMPARE(image(w.FrameTop->pixmap()), builtInTop);
      QCOMPARE(titleColour(w), QColor(Qt::black));
      QVERIFY(!w.background().colourKey);
    }
    QVERIFY(fakes.messages.boxes.empty());
  }

  // The box takes what is typed as typed: no completion, no case correction, no new items.
  void themeBoxKeepsTheTypedText() {
    ThemedFolder themes;
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QLineEdit* edit = w.theme->lineEdit();
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, 'V');
    QCOMPARE(w.theme->currentText(), QString("V"));
    QCOMPARE(w.PanelBtns->height(), 17);  // the change ran, but matched no theme
    QVERIFY(!w.background().colourKey);

    edit->selectAll();
    QTest::keyClicks(edit, "vista black");
    QTest::keyClick(edit, Qt::Key_Return);
    w.options->setFocus();  // a click elsewhere
    QCOMPARE(w.theme->currentText(), QString("vista black"));
    QCOMPARE(w.theme->count(), 3);
    QVERIFY(!w.background().colourKey);
    QCOMPARE(titleColour(w), QColor(Qt::black));

    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "Vista Black");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(w.theme->count(), 3);
    QVERIFY(w.background().colourKey);
    QVERIFY(fakes.messages.boxes.empty());
  }

  // The margin outside the frame is the window's own background: solid white until a theme
  // turns the colour key on, see-through after.
  void marginFollowsTheBackground() {
    ThemedFolder themes;
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    const QPoint margin(3, 300);
    QCOMPARE(static_cast<QWidget&>(w).grab().toImage().pixelColor(margin), QColor(Qt::white));
    w.theme->setEditText(QStringLiteral("Vista Black"));
    QCOMPARE(static_cast<QWidget&>(w).grab().toImage().pixelColor(margin).alpha(), 0);
    w.theme->setEditText(QStringLiteral("Vista Glass"));  // unpainted: what was there, sky blue
    QCOMPARE(static_cast<QWidget&>(w).grab().toImage().pixelColor(margin), kivo::look::kColourKey);
  }

  void glassAfterBlackThenNoMatch() {
    ThemedFolder themes;
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.theme->setEditText(QStringLiteral("Vista Black"));
    w.theme->setEditText(QStringLiteral("Vista Glass"));
    QVERIFY(fakes.messages.boxes.empty());
    QCOMPARE(titleColour(w), QColor(Qt::black));
    QVERIFY(!w.background().colourKey);
    QVERIFY(!w.background().painted);
    QCOMPARE(w.background().colour, kivo::look::kColourKey);  // the brush colour is left as it was
    QCOMPARE(w.PanelBtns->height(), 15);
    QVERIFY(!w.alpha1->active());
    w.alpha1->message(TAlphaBlendForm::Message::Deactivate);
    w.alpha1->message(TAlphaBlendForm::Message::EnterSizeMove);
    QCOMPARE(w.alpha1->formOpacity(), 255);  // glass stays opaque
    const QImage glassTop = file("gfx/Themes/Vista Glass/FrameTop.png");
    QCOMPARE(image(w.FrameTop->pixmap()), glassTop);

    w.theme->setEditText(QStringLiteral("Vista Glas"));
    QCOMPARE(image(w.FrameTop->pixmap()), glassTop);
    QVERIFY(!w.background().painted);
    QCOMPARE(w.PanelBtns->height(), 17);
    QVERIFY(w.alpha1->active());
    QCOMPARE(w.alpha1->formOpacity(), 255);  // messages while it was off changed no flag
  }

  // A missing picture stops the change at that load; what was loaded before it stays.
  void themeWithoutItsMaxButton() {
    ThemedFolder themes;
    QVERIFY(QFile::remove("gfx/Themes/Vista Black/ButtonMaxOff.gif"));
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    const QImage builtInMax = image(w.btnMax->pixmap());
    int stateChanges = 0;
    struct Counter : QObject {
      int* n;
      explicit Counter(int* count) : n(count) {}
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::WindowStateChange) ++*n;
        return false;
      }
    } counter(&stateChanges);
    w.installEventFilter(&counter);
    w.theme->setEditText(QStringLiteral("Vista Black"));
    QCOMPARE(fakes.messages.errors(),
             QStringList{"Cannot open file \"gfx/Themes/Vista black/ButtonMaxOff.gif\". No such file or directory"});
    QCOMPARE(fakes.messages.boxes.front().kind, BoxRecord::Error);
    QCOMPARE(image(w.FrameTop->pixmap()), file("gfx/Themes/Vista Black/FrameTop.gif"));
    QCOMPARE(image(w.btnClose->picUp()), file("gfx/Themes/Vista Black/ButtoncloseOn.gif"));
    QCOMPARE(image(w.btnMax->pixmap()), builtInMax);
    QCOMPARE(titleColour(w), QColor(Qt::black));
    QVERIFY(!w.background().colourKey);
    QCOMPARE(w.background().colour, QColor(Qt::white));
    QCOMPARE(w.theme->currentText(), QStringLiteral("Vista Black"));
    QCOMPARE(stateChanges, 0);  // no minimize and restore

    w.theme->setEditText(QStringLiteral("Vista Silver"));
    QCOMPARE(fakes.messages.boxes.size(), size_t(1));
    QCOMPARE(stateChanges, 2);
    QCOMPARE(titleColour(w), QColor(0xF4, 0xF4, 0xF4));
  }

  // Only a move that changes both coordinates refreshes the backdrop; every tick remembers.
  void backdropFollowsDiagonalMoves() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.move(40, 30);
    w.movedTimer();
    w.captured->clear();
    w.move(90, 30);  // straight right
    w.movedTimer();
    QVERIFY(w.captured->pixmap().isNull());
    QCOMPARE(w.remembered(), QPoint(90, 30));
    w.move(90, 70);  // straight down
    w.movedTimer();
    QVERIFY(w.captured->pixmap().isNull());

    w.move(120, 100);
    w.movedTimer();
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    QCOMPARE(w.captured->pixmap().size(), desktop.size());
    QCOMPARE(w.captured->geometry(), QRect(QPoint(-120, -100), desktop.size()));
    QCOMPARE(w.remembered(), QPoint(120, 100));
    QVERIFY(w.isVisible());
    QVERIFY(w.tgui2->isActive());
    QTRY_VERIFY(!w.tgui2->isActive());
    QVERIFY(w.isVisible());

    // While a drag runs, the backdrop waits; the first tick after it sees the whole move.
    w.captured->clear();
    kivo::beginMoveLoop(&w);
    w.move(160, 140);
    w.movedTimer();
    QVERIFY(w.captured->pixmap().isNull());
    QCOMPARE(w.remembered(), QPoint(120, 100));
    QTest::mouseRelease(&w, Qt::LeftButton);
    w.movedTimer();
    QCOMPARE(w.captured->pos(), QPoint(-160, -140));
    QVERIFY(!w.captured->pixmap().isNull());

    // A window put away stays away, however it moved.
    w.hide();
    w.move(10, 20);
    w.movedTimer();
    QVERIFY(!w.isVisible());
    QCOMPARE(w.remembered(), QPoint(10, 20));
  }

  void withoutANotificationAreaTheTrayMinimizes() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) QSKIP("this platform has a notification area");
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.gototrayClick();
    QVERIFY(w.windowState() & Qt::WindowMinimized);
    QVERIFY(w.isVisible());  // still has its taskbar entry
    QVERIFY(!w.tray1->iconVisible());
  }

  void windowStartsWithTheBuiltInLook() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {"a.prx"});
    QVERIFY(w.alpha1->active());
    QCOMPARE(w.alpha1->sizeMoveValue(), 200);
    QCOMPARE(w.alpha1->deactivateValue(), 200);
    QCOMPARE(w.alpha1->formOpacity(), 255);
    QVERIFY(!w.tray1->iconVisible());
    QVERIFY(!w.background().colourKey);
    QCOMPARE(w.theme->currentText(), QStringLiteral("Vista Glass"));
    QCOMPARE(w.PanelBtns->height(), 25);  // no theme applied at start
  }
};

QTEST_MAIN(LookWindowTest)
#include "test_look_window.moc"
