// The main window: page switching, the start argument rule and the song commands.
#include "shell/formMain.h"
#include "shell/page.h"
#include "stick/pluginspage.h"
#include "shell/tests/kit/fakes.h"

#include <QLineEdit>
#include <QtTest>

using namespace kivo::testing;

class MainWindowTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { kivo::installFontSubstitutes(); }

  void startArgumentChoosesThePage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("plugins");
    QTest::newRow("none") << QStringList{} << false;
    QTest::newRow("three") << QStringList{"a.p"} << false;
    QTest::newRow("four") << QStringList{"a.pr"} << true;
  }
  void startArgumentChoosesThePage() {
    QFETCH(QStringList, args);
    QFETCH(bool, plugins);
    FakeServices fakes;
    FakePlayer player;
    TfrmMain window(fakes.services, player, args);
    QCOMPARE(window.currentPage() == window.Frame5, plugins);
    QCOMPARE(window.moved->isActive(), !plugins);
    if (plugins) QCOMPARE(window.Frame5->prxname->text(), args.first());
    QCOMPARE(window.currentPage()->geometry(), QRect(18, 65, 785, 474));
  }

  void songFollowsTheAboutPage() {
    FakeServices fakes;
    FakePlayer player;
    TfrmMain window(fakes.services, player, {});
    player.commands.clear();
    window.Label2Click();
    QVERIFY(window.t1->isActive());
    const auto remaining = window.t1->remainingTime();
    QTest::qWait(30);
    window.Label2Click();  // a second click does not restart the count
    QVERIFY(window.t1->remainingTime() <= remaining);
    window.t1Timer();
    window.labelHomeClick();
    QVERIFY(!window.t1->isActive());
    QCOMPARE(player.commands, (QStringList{"play", "play", "stop", "rewind", "play", "stop"}));
  }

  void refusedSongStopsTheStart() {
    FakeServices fakes;
    FakePlayer player;
    player.refuseWith = "Resource not found.";
    QVERIFY_THROWS_EXCEPTION(kivo::Failure, TfrmMain(fakes.services, player, {}));
  }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
