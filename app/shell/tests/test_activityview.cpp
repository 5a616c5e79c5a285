// The activity view, the wait dialog and their host on the main window, driven through the
// tool activity as the runner would drive them.
#include "shell/activityhost.h"
#include "shell/activityview.h"
#include "shell/clicklabel.h"
#include "shell/page.h"
#include "shell/tests/kit/fakes.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

using namespace kivo;
using namespace kivo::testing;

namespace {
using Err = ToolActivity::Stream;

class RecordingNotifier : public Notifier {
public:
  void notify(const Notice& notice) override { summaries << notice.summary; }
  QStringList summaries;
};

const ToolJob kIsoToCso{QStringLiteral("ISO to CSO"), {QStringLiteral("/g/a.iso")}, QStringLiteral("/g/a.cso")};
}  // namespace

class ActivityViewTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { installFontSubstitutes(); }

  void eachJobShowsWhatItDoesAndHowItEnded() {
    TempProgramFolder program;
    ToolActivity activity;
    ActivityView view(activity);
    QVERIFY(view.findChild<QLabel*>("empty")->isVisibleTo(&view));

    const int a = activity.begin(kIsoToCso, R"("bin/ciso.exe" 9 "/g/a.iso" "/g/a.cso")", false);
    JobPanel* p = view.panel(a);
    QVERIFY(p);
    QVERIFY(!view.findChild<QLabel*>("empty")->isVisibleTo(&view));
    QCOMPARE(p->title->text(), QString("ISO to CSO"));
    QCOMPARE(p->state->text(), QString("Running"));
    QCOMPARE(p->files->text(), QString("Reads a.iso, writes a.cso"));
    QCOMPARE(p->bar->maximum(), 0);  // busy until the tool tells how far it is
    QVERIFY(p->detail->text().startsWith("Running for 0:0"));
    activity.addOutput(a, "KIVO-PROGRESS 50 100\nciso: compressing a.iso\n", Err::Err);
    QTRY_COMPARE(p->bar->maximum(), 100);
    QCOMPARE(p->bar->value(), 50);
    QVERIFY(p->detail->text().startsWith("50 %"));
    QCOMPARE(p->messages->text(), QString("ciso: compressing a.iso"));

    // Stop: asked once, then the tool's end makes it a cancel.
    QVERIFY(p->stop->isVisibleTo(p) && !p->dismiss->isVisibleTo(p));
    p->stop->click();
    QVERIFY(activity.entry(a)->cancelRequested);
    QCOMPARE(p->state->text(), QString("Stopping..."));
    QVERIFY(!p->stop->isEnabled());
    activity.finish(a, 0, true);
    QCOMPARE(p->state->text(), QString("Cancelled"));
    QCOMPARE(p->messages->text(), QString("Cancelled."));
    QVERIFY(!p->stop->isVisibleTo(p) && p->dismiss->isVisibleTo(p));
    QVERIFY(!view.banner->isVisibleTo(&view));

    // A failure turns red with the tool's last message, and the banner names the job.
    const int b = activity.begin({QStringLiteral("DAX to ISO"), {}, {}}, "dax", false);
    activity.addOutput(b, "dax: a.dax is not a DAX image\n", Err::Err);
    activity.finish(b, 2, false);
    QCOMPARE(view.panel(b)->state->text(), QString("Failed"));
    QCOMPARE(view.panel(b)->messages->text(), QString("dax: a.dax is not a DAX image"));
    QCOMPARE(view.banner->text(), QString("DAX to ISO failed: dax: a.dax is not a DAX image"));
    QVERIFY(view.banner->isVisibleTo(&view));

    // A success names its result and its size, and shows it in the file manager.
    const QString out = program.write("done.cso", QByteArray(3000, 'x'));
    const int c = activity.begin({QStringLiteral("ISO to CSO"), {}, QStringLiteral("done.cso")}, "ciso", false);
    program.write("done.cso", QByteArray(4096, 'y'));
    activity.finish(c, 0, false);
    QCOMPARE(view.panel(c)->state->text(), QString("Done"));
    QCOMPARE(view.panel(c)->detail->text(), QString("done.cso, 4.0 KiB"));
    QSignalSpy shown(&view, &ActivityView::showInFolder);
    QVERIFY(view.panel(c)->showFile->isVisibleTo(view.panel(c)));
    view.panel(c)->showFile->click();
    QCOMPARE(shown.value(0).value(0).toString(), out);

    // Newest on top; Remove and Clear finished take finished jobs away, never running ones.
    const int d = activity.begin(kIsoToCso, "ciso", false);
    auto* rows = view.panel(d)->parentWidget()->layout();
    QCOMPARE(rows->indexOf(view.panel(d)), 0);
    view.panel(a)->dismiss->click();
    QVERIFY(!view.panel(a));
    view.clear->click();
    QVERIFY(!view.panel(b) && !view.panel(c) && view.panel(d));
    QVERIFY(!view.banner->isVisibleTo(&view));
  }

  void fastToolsAreLaidOutAFewTimesASecond() {
    TempProgramFolder program;
    ToolActivity activity;
    ActivityView view(activity);
    const int a = activity.begin({QStringLiteral("EBOOT.PBP to ISO"), {}, QStringLiteral("out.iso")}, "rastle", false);
    JobPanel* p = view.panel(a);
    activity.addOutput(a, "first\n", Err::Out);
    QTRY_COMPARE(p->messages->text(), QString("first"));
    // A burst of output is not laid out line by line: the panel shows the latest lines at its
    // next turn.
    for (int i = 0; i < 1000; ++i) activity.addOutput(a, QByteArray::number(i) + "\n", Err::Out);
    QCOMPARE(p->messages->text(), QString("first"));
    QTRY_COMPARE(p->messages->text(), QString("997\n998\n999"));

    // A success that warns (rastle given a file that is no EBOOT) shows as a warning at once.
    activity.addOutput(a, "WARNING: 'notes.txt' ends before the block index\n", Err::Out);
    program.write("out.iso", {});
    activity.finish(a, 0, false);
    QCOMPARE(p->state->text(), QString("Warning"));
    QCOMPARE(p->messages->text(), QString("WARNING: 'notes.txt' ends before the block index"));
  }

  void theViewFindsRoomBesideTheWindow() {
    const QSize view(440, 250), least(300, 140);
    // A wide screen: to the right; the window near the right edge: to the left.
    QCOMPARE(placeBeside({553, 231, 813, 617}, view, least, {0, 0, 1920, 1080}), QRect(1374, 231, 440, 250));
    QCOMPARE(placeBeside({1100, 231, 813, 617}, view, least, {0, 0, 1920, 1080}), QRect(652, 231, 440, 250));
    // 1280 x 1024 with the window centred: no side has the whole view, the room below has most of it.
    const QRect window(233, 203, 813, 617), room(0, 0, 1280, 1024);
    const QRect below = placeBeside(window, view, least, room);
    QVERIFY(room.contains(below));
    QVERIFY(!below.intersects(window));
    QVERIFY(below.height() >= least.height() && below.width() == 440);
    // No room anywhere: over the page area, never over the title strip, the menu or the footer.
    const QRect full(0, 0, 813, 617);
    const QRect over = placeBeside(full, view, least, {0, 0, 820, 640});
    QCOMPARE(over.size(), least);
    QVERIFY(!over.intersects({0, 0, 813, 65}));
    QVERIFY(!over.intersects({0, 617 - 78, 813, 78}));
  }

  void theWaitDialogCancelsItsJob() {
    ToolActivity activity;
    const int id = activity.begin(kIsoToCso, "ciso", true);
    WaitDialog dialog(activity, id);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("ISO to CSO"));
    QVERIFY(!dialog.panel()->stop->isVisibleTo(&dialog));  // Cancel is the dialog's own button
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(activity.entry(id)->cancelRequested);
    QVERIFY(dialog.isVisible());  // it closes when the tool has ended
    QVERIFY(!dialog.cancel->isEnabled());
    QCOMPARE(dialog.cancel->text(), QString("Cancelling..."));
  }

  void theStepsOfOneHandlerShareTheirDialog() {
    ToolActivity activity;
    QWidget window;
    window.show();
    WaitDialogPresenter presenter(&window);
    const int first = activity.begin({QStringLiteral("CSO to DAX, step 1 of 2"), {}, {}}, "ciso", true);
    presenter.show(activity, first);
    QPointer<WaitDialog> dialog = presenter.dialog();
    QVERIFY(dialog && dialog->isVisible() && dialog->isModal());
    dialog->cancel->click();
    activity.finish(first, 0, false);
    presenter.hide();
    const int second = activity.begin({QStringLiteral("CSO to DAX, step 2 of 2"), {}, {}}, "dax", true);
    presenter.show(activity, second);  // the handler went straight on to its next step
    QCoreApplication::processEvents();
    QCOMPARE(presenter.dialog(), dialog.data());
    QCOMPARE(dialog->windowTitle(), QString("CSO to DAX, step 2 of 2"));
    QVERIFY(dialog->cancel->isEnabled());
    presenter.hide();
    QTRY_VERIFY(!dialog);
  }

  void theHostShowsJobsWithoutTakingTheFocus() {
    TempProgramFolder program;
    ProcessRunner runner;
    QWidget window;
    window.resize(813, 617);
    auto* edit = new QLineEdit(&window);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    RecordingNotifier notifier;
    WindowPresence presence = WindowPresence::Active;
    auto* host = new ActivityHost(&window, runner, notifier, [&] { return presence; });
    ToolActivity& activity = runner.activity();
    qint64 now = 0;
    activity.setClock([&] { return now; });
    QCOMPARE(host->reopen->text(), QString("Tool activity"));

    // A tool started beside the page shows in the view; the user keeps typing in the page.
    const int a = activity.begin(kIsoToCso, "ciso", false);
    QVERIFY(host->view->isVisible());
    QCOMPARE(QApplication::focusWidget(), edit);
    QCOMPARE(host->reopen->text(), QString("Tool activity (1 running)"));
    // One the handler waits for has its dialog instead.
    host->view->hide();
    const int w = activity.begin(kIsoToCso, "ciso", true);
    QVERIFY(!host->view->isVisible());
    activity.finish(w, 0, true);

    // In the tray: a failure is notified by the job's name, and shows when the window is back.
    presence = WindowPresence::InTray;
    window.hide();
    activity.finish(a, 2, false);
    QCOMPARE(notifier.summaries, QStringList{"ISO to CSO failed"});
    QVERIFY(!host->view->isVisible());
    presence = WindowPresence::Active;
    window.show();
    QVERIFY(host->view->isVisible());

    // A long job that ends while Kivo is minimised says so; a short one does not.
    presence = WindowPresence::Minimised;
    program.write("a.cso");
    const int longJob = activity.begin({QStringLiteral("CSO to ISO"), {}, {}}, "ciso", false);
    now = 60000;
    activity.finish(longJob, 0, false);
    const int shortJob = activity.begin({QStringLiteral("DAX to ISO"), {}, {}}, "dax", false);
    activity.finish(shortJob, 0, false);
    QCOMPARE(notifier.summaries, (QStringList{"ISO to CSO failed", "CSO to ISO is done"}));
    QCOMPARE(host->reopen->text(), QString("Tool activity"));

    // The link on the window brings the view back.
    host->view->hide();
    QTest::mouseClick(host->reopen, Qt::LeftButton);
    QVERIFY(host->view->isVisible());
  }
};

QTEST_MAIN(ActivityViewTest)
#include "test_activityview.moc"
