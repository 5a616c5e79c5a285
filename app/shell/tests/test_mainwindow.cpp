// The main window: its controls, the start argument rule, page switching, the song commands,
// the drag surface, the title buttons, the Home page's entry and the current folder.
#include "shell/clicklabel.h"
#include "shell/failure.h"
#include "shell/formMain.h"
#include "shell/imgbtn.h"
#include "shell/page.h"
#include "shell/realservices.h"
#include "shell/tests/kit/fakes.h"
#include "shell/tranpanel.h"
#include "convert/convertpage.h"
#include "info/aboutpage.h"
#include "info/changelog.h"
#include "info/homepage.h"
#include "link/linkpage.h"
#include "link/shellpage.h"
#include "stick/xmbpage.h"
#include "stick/pluginspage.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

using namespace kivo::testing;

namespace {

void press(QWidget* w, QPoint at, QEvent::Type type = QEvent::MouseButtonPress) {
  QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
void moveTo(QWidget* w, QPoint at) {
  QMouseEvent e(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
void release(QWidget* w, QPoint at) {
  QMouseEvent e(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  QList<QWidget*> pages(TfrmMain& w) {
    return {w.frame0, w.Frame1, w.Frame2, w.Frame3, w.Frame4, w.Frame5, w.Frame6};
  }

private slots:
  void initTestCase() { kivo::installFontSubstitutes(); }

  void controlsStandInTheirPlaces() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    QCOMPARE(w.objectName(), QString("frmMain"));
    QCOMPARE(w.windowTitle(), kivo::kAppTitle);
    QCOMPARE(w.minimumSize(), QSize(813, 617));
    QCOMPARE(w.maximumSize(), QSize(813, 617));
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w.pos(), QPoint(183, 109));  // centred only when first shown
    QCOMPARE(w.remembered(), QPoint(183, 109));
    QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::white));
    const QImage icon(":/art/kivo.png");  // 32 x 32 in 256 colours, as the tray shows it too
    QCOMPARE(icon.size(), QSize(32, 32));
    QCOMPARE(icon.format(), QImage::Format_Indexed8);
    QVERIFY(!w.windowIcon().isNull());

    const QList<std::pair<const char*, QRect>> places = {
        {"FrameTop", {18, 7, 785, 28}},     {"FrameBottom", {18, 607, 785, 8}}, {"titleIcon", {20, 14, 20, 20}},
        {"feeter", {18, 539, 785, 68}},     {"borderTop", {18, 35, 785, 30}},   {"FrameLeft", {10, 7, 8, 608}},
        {"FrameRight", {803, 7, 8, 608}},   {"PanelMenu", {16, 40, 785, 25}},   {"PanelBtns", {708, 10, 93, 25}},
        {"PanelOptions", {528, 545, 265, 57}}, {"btnMin", {0, 0, 27, 15}},      {"btnMax", {25, 0, 26, 17}},
        {"btnClose", {51, 0, 42, 15}}};
    for (const auto& [name, place] : places) {
      QWidget* c = w.findChild<QWidget*>(name);
      QVERIFY2(c, name);
      QCOMPARE(c->geometry(), place);
      if (auto* picture = qobject_cast<QLabel*>(c); picture && !qobject_cast<TTranPanel*>(c))
        QVERIFY2(!picture->pixmap().isNull(), name);
    }
    // The built-in pictures have the sizes of their places (the emblem and footer are stretched).
    for (const char* name : {"FrameTop", "FrameBottom", "borderTop", "FrameLeft", "FrameRight", "feeter"})
      QCOMPARE(w.findChild<QLabel*>(name)->pixmap().size(), w.findChild<QLabel*>(name)->size());
    QVERIFY(w.FrameLeft->pixmap().toImage().hasAlphaChannel());
    QCOMPARE(w.FrameTitle->text(), QString("Kivo Workbench - by Plovik"));
    QCOMPARE(w.FrameTitle->pos(), QPoint(45, 14));
    QCOMPARE(w.titleIcon->toolTip(), QString("Double click to minimize to tray"));
    QVERIFY(!w.btnMax->isEnabled());

    const QList<std::tuple<const char*, const char*, int>> words = {
        {"labelHome", "Home", 8},     {"labelConvert", "Convert", 56}, {"labelShell", "Shell integration", 120},
        {"LabelLink", "PC - PSP link", 240}, {"prxmanager", "Plugins manager", 336},
        {"LabelXMB", "Customize XMB", 456}, {"Label2", "About", 738}};
    for (const auto& [name, text, left] : words) {
      auto* word = w.PanelMenu->findChild<kivo::ClickLabel*>(name);
      QVERIFY2(word, name);
      QCOMPARE(word->text(), QString(text));
      QCOMPARE(word->pos(), QPoint(left, 1));
      QCOMPARE(word->cursor().shape(), Qt::PointingHandCursor);
      QCOMPARE(word->palette().color(QPalette::WindowText), QColor(Qt::white));
    }

    QCOMPARE(w.options->text(), "Options" + QString(52, ' '));
    QVERIFY(w.options->font().bold() && w.options->font().underline());
    QCOMPARE(w.options->geometry().topLeft(), QPoint(1, 1));
    QCOMPARE(w.options->width(), 264);
    QCOMPARE(w.Label3->text(), QString("Theme:"));
    QCOMPARE(w.Label3->buddy(), w.theme);
    QVERIFY(w.theme->isEditable() && !w.theme->hasFrame());
    QCOMPARE(w.theme->geometry().topLeft(), QPoint(54, 18));
    QCOMPARE(w.theme->width(), 100);
    QCOMPARE(w.theme->currentText(), QString("Vista Glass"));
    QCOMPARE(w.theme->count(), 3);
    QCOMPARE(w.theme->itemText(2), QString("Vista Silver"));
    QCOMPARE(w.gototray->text(), QString("Minimize to tray"));
    QCOMPARE(w.gototray->pos(), QPoint(1, 38));
    QCOMPARE(w.gototray->cursor().shape(), Qt::PointingHandCursor);

    QCOMPARE(w.t1->interval(), 81000);
    QVERIFY(!w.t1->isActive());
    QCOMPARE(w.tgui2->interval(), 25);
    QCOMPARE(w.moved->interval(), 250);
  }

  void startArgumentChoosesThePage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("plugins");
    QTest::newRow("none") << QStringList{} << false;
    QTest::newRow("empty") << QStringList{""} << false;
    QTest::newRow("three") << QStringList{"a.p"} << false;
    QTest::newRow("four") << QStringList{"a.pr"} << true;
    QTest::newRow("path, second ignored") << QStringList{"/media/x/seplugins/a b.prx", "more"} << true;
  }
  void startArgumentChoosesThePage() {
    QFETCH(QStringList, args);
    QFETCH(bool, plugins);
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, args);
    QCOMPARE(w.currentPage(), plugins ? static_cast<QWidget*>(w.Frame5) : w.frame0);
    QCOMPARE(w.moved->isActive(), !plugins);
    QCOMPARE(w.Frame5->prxname->text(), plugins ? args.first() : QStringLiteral("<No PRX selected yet>"));
    QCOMPARE(w.currentPage()->geometry(), QRect(18, 65, 785, 474));
    QVERIFY(!w.t1->isActive());
    QCOMPARE(player.commands.first(), QString("open:etc/snd.mp3"));
  }

  void pageSwitchShowsOnePageAndKeepsTheOthers() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    const QList<std::pair<void (TfrmMain::*)(), QWidget*>> menu = {
        {&TfrmMain::labelConvertClick, w.Frame1}, {&TfrmMain::labelShellClick, w.Frame2},
        {&TfrmMain::LabelLinkClick, w.Frame3},    {&TfrmMain::Label2Click, w.Frame4},
        {&TfrmMain::prxmanagerClick, w.Frame5},   {&TfrmMain::LabelXMBClick, w.Frame6},
        {&TfrmMain::labelHomeClick, w.frame0}};
    w.Frame5->prxname->setText("kept.prx");
    for (const auto& [handler, page] : menu) {
      page->move(0, 0);  // a page that wandered is put back
      (w.*handler)();
      for (QWidget* p : pages(w)) QCOMPARE(p->isVisibleTo(&w), p == page);
      QCOMPARE(page->geometry(), QRect(18, 65, 785, 474));
      QCOMPARE(page->palette().color(QPalette::Window), QColor(244, 244, 244));
    }
    w.prxmanagerClick();
    w.prxmanagerClick();  // the shown page again: unchanged
    QCOMPARE(w.currentPage(), w.Frame5);
    QCOMPARE(w.Frame5->prxname->text(), QString("kept.prx"));
    // The menu words drive the same switch.
    QTest::mouseClick(w.PanelMenu->findChild<QWidget*>("LabelXMB"), Qt::LeftButton);
    QCOMPARE(w.currentPage(), w.Frame6);
  }

  void pagesBuiltAfterTheFirstPaintBehaveAsTheOthers() {
    for (const QStringList& args : {QStringList{}, QStringList{"some.prx"}}) {
      FakeServices fakes;
      FakePlayer player;
      TfrmMain w(fakes.services, player, args, nullptr, TfrmMain::PageBuild::AfterFirstPaint);
      QWidget* const start = args.isEmpty() ? static_cast<QWidget*>(w.frame0) : w.Frame5;
      QVERIFY(start);
      QCOMPARE(w.currentPage(), start);
      QVERIFY(!w.Frame1 && !w.Frame4 && !w.Frame6);
      // A menu click before the first paint builds what it needs.
      w.Label2Click();
      QVERIFY(w.Frame4);
      QCOMPARE(w.currentPage(), static_cast<QWidget*>(w.Frame4));
      QCOMPARE(player.commands.last(), QStringLiteral("play"));
      w.show();
      QTRY_VERIFY(w.frame0 && w.Frame1 && w.Frame2 && w.Frame3 && w.Frame5 && w.Frame6);
      // The later pages are hidden, in the page area, and the shown one stays shown.
      QCOMPARE(w.currentPage(), static_cast<QWidget*>(w.Frame4));
      QVERIFY(!w.Frame1->isVisibleTo(&w));
      QCOMPARE(w.Frame6->geometry(), TfrmMain::pageArea());
      if (!args.isEmpty()) QCOMPARE(w.Frame5->prxname->text(), args.first());
    }
  }

  void songPlaysOnlyWithTheAboutPage() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    player.commands.clear();
    w.Label2Click();
    QVERIFY(w.t1->isActive());
    QTest::qWait(60);
    const int left = w.t1->remainingTime();
    w.Label2Click();  // a second click neither restarts the count nor the song
    QVERIFY(w.t1->remainingTime() <= left);
    w.labelHomeClick();
    QVERIFY(!w.t1->isActive());
    w.Label2Click();  // back again: resumes, and the count starts anew
    QVERIFY(w.t1->remainingTime() > left);
    QCOMPARE(player.commands, (QStringList{"play", "play", "stop", "play"}));

    // Every tick of t1 starts the song from its beginning.
    player.commands.clear();
    w.t1->setInterval(40);
    QTRY_VERIFY(player.commands.size() >= 6);
    w.LabelLinkClick();
    const QStringList ticks = player.commands;
    QCOMPARE(ticks.mid(0, 6), (QStringList{"stop", "rewind", "play", "stop", "rewind", "play"}));
    QCOMPARE(ticks.last(), QString("stop"));
    QTest::qWait(120);
    QCOMPARE(player.commands, ticks);  // no tick once the About page is gone
  }

  void aSongThatCannotBeOpenedStopsTheStart() {
    FakeServices fakes;
    FakePlayer player;
    player.refuseWith = "Could not determine type of stream.";
    try {
      TfrmMain w(fakes.services, player, {});
      QFAIL("the window was built");
    } catch (const kivo::Failure& f) {
      QCOMPARE(f.text(), player.refuseWith);
    }
  }

  void theRealPlayerRefusesAtOnce() {
    TempProgramFolder folder;
    std::unique_ptr<kivo::SongPlayer> real = kivo::makeQtSongPlayer();
    QCOMPARE(real->open("etc/snd.mp3"), QString("Resource not found."));
    folder.write("etc/snd.mp3", "<html>not a song</html>");
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(real->open("etc/snd.mp3"), QString("Could not determine type of stream."));
    folder.write("etc/empty.mp3");
    QVERIFY(!real->open("etc/empty.mp3").isEmpty());
    QVERIFY(clock.elapsed() < 100);
    QCOMPARE(real->open(KIVO_PROGRAM_DIR "/etc/snd.mp3"), QString());
  }

  void dragSurfaceIsTheWindowsOwn() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    for (QPoint at : {QPoint(300, 20), QPoint(13, 300), QPoint(806, 300), QPoint(400, 610), QPoint(25, 20),
                      QPoint(100, 570), QPoint(450, 570), QPoint(3, 3), QPoint(400, 37)})
      QVERIFY2(w.isDragSurface(at), qPrintable(QString("%1,%2").arg(at.x()).arg(at.y())));
    for (QPoint at : {QPoint(400, 300), QPoint(25, 50), QPoint(760, 48), QPoint(600, 560), QPoint(712, 14),
                      QPoint(740, 14)})
      QVERIFY2(!w.isDragSurface(at), qPrintable(QString("%1,%2").arg(at.x()).arg(at.y())));

    QSignalSpy started(&w, &TfrmMain::moveLoopStarted), ended(&w, &TfrmMain::moveLoopEnded);
    // A press on the title strip picture reaches the window and moves it with the pointer.
    press(w.FrameTop, {100, 10});
    moveTo(&w, {100 + 18 + 40, 10 + 7 + 25});
    release(&w, {158, 42});
    QCOMPARE(w.pos(), QPoint(183 + 40, 109 + 25));
    QCOMPARE(started.count(), 1);
    QCOMPARE(ended.count(), 1);
    // Presses on a page, a menu word or the options panel do not.
    press(w.frame0, {300, 200});
    moveTo(&w, {10, 10});
    release(&w, {10, 10});
    QWidget* about = w.PanelMenu->findChild<QWidget*>("Label2");
    press(about, {5, 5});
    release(about, {5, 5});
    press(w.options, {5, 5});
    moveTo(&w, {500, 500});
    QCOMPARE(w.pos(), QPoint(223, 134));
    QCOMPARE(started.count(), 1);
    QCOMPARE(w.currentPage(), w.Frame4);  // the About word did its own job
  }

  void doubleClicksOnTheSurfaceDoNothing() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QPoint at = w.pos();
    QTest::mouseDClick(&w, Qt::LeftButton, {}, {300, 20});
    QTest::mouseDClick(&w, Qt::LeftButton, {}, {30, 22});
    QTest::mouseDClick(w.btnMax, Qt::LeftButton, {}, {5, 5});
    QTest::qWait(50);
    QVERIFY(w.isVisible());
    QVERIFY(!w.isMinimized() && !w.isMaximized());
    QCOMPARE(w.pos(), at);
    QVERIFY(fakes.messages.boxes.empty());
  }

  void titleButtonsAndOptions() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(w.options, Qt::LeftButton);
    QCOMPARE(fakes.messages.texts(), QStringList{"Yep, it says options! :D"});
    QCOMPARE(fakes.messages.boxes.front().kind, BoxRecord::Message);
    QTest::mouseClick(w.btnMin, Qt::LeftButton);
    QTRY_VERIFY(w.isMinimized());
    w.showNormal();
    QTest::mouseClick(w.btnClose, Qt::LeftButton);
    QTRY_VERIFY(!w.isVisible());
    QCOMPARE(player.commands.last(), QString("stop"));
  }

  void homeEntryRunsWhenTheFocusMovesIntoHome() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    auto* field = new QLineEdit(w.frame0);  // stands for the Home page's controls
    player.commands.clear();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // The first activation after a normal start runs the entry step once (its page switch stops the song).
    QTRY_COMPARE(player.commands, QStringList{"stop"});
    QTest::qWait(30);
    QCOMPARE(player.commands, QStringList{"stop"});

    w.Label2Click();
    w.labelHomeClick();  // the menu does not run the entry step
    w.theme->setFocus();
    player.commands.clear();
    field->setFocus(Qt::MouseFocusReason);  // clicking into the page does
    QCOMPARE(player.commands, QStringList{"stop"});
    field->clearFocus();
    field->setFocus(Qt::MouseFocusReason);  // from nowhere back to the same control: no entry
    QCOMPARE(player.commands, QStringList{"stop"});
  }

  // The first activation puts the focus on the first control of the tab order: the start page's,
  // never the theme box (where an arrow key would switch the theme).
  void firstFocusGoesToTheStartPage() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.frame0->changelog1));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(w.theme->currentText(), QString("Vista Glass"));

    TfrmMain plugins(fakes.services, player, {"x.prx"});
    plugins.show();
    plugins.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&plugins));
    QVERIFY(plugins.Frame5->isAncestorOf(QApplication::focusWidget()));
  }

  void pluginStartHasNoHomeEntry() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {"x.prx"});
    player.commands.clear();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::qWait(30);
    QCOMPARE(w.currentPage(), w.Frame5);
    QVERIFY(player.commands.isEmpty());
  }

  void handlersLeaveTheCurrentFolderAlone() {
    TempProgramFolder folder;
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    const QList<void (TfrmMain::*)()> handlers = {
        &TfrmMain::labelHomeClick, &TfrmMain::labelConvertClick, &TfrmMain::labelShellClick,
        &TfrmMain::LabelLinkClick, &TfrmMain::prxmanagerClick,   &TfrmMain::LabelXMBClick,
        &TfrmMain::Label2Click,    &TfrmMain::t1Timer,           &TfrmMain::frame0Enter,
        &TfrmMain::optionsClick,   &TfrmMain::btnMinClick};
    for (auto handler : handlers) {
      (w.*handler)();
      QCOMPARE(QDir::currentPath(), folder.path());
    }
  }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
