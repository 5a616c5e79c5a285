// The Home and About pages without the web module: texts and places, the credits timing, the
// site link, the loading sign, the easter egg, and the views' message when the module is missing.
#include "info/aboutpage.h"
#include "info/changelog.h"
#include "info/homepage.h"
#include "info/texts.h"
#include "info/webview.h"
#include "shell/clicklabel.h"
#include "shell/tests/kit/fakes.h"

#include <QAbstractTextDocumentLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

using namespace kivo::testing;

namespace {

int widest(const QStringList& lines, const QFont& font) {
  const QFontMetrics fm(font);
  int w = 0;
  for (const QString& line : lines)
    w = std::max(w, fm.horizontalAdvance(line));
  return w;
}

// The memo's text area: its size less the document margins.
int textWidth(QPlainTextEdit* memo) {
  return memo->width() - 2 * int(memo->document()->documentMargin());
}
int textHeight(QPlainTextEdit* memo) {
  return memo->height() - 2 * int(memo->document()->documentMargin());
}

// Where the last line with text on it ends, as the memo lays its lines out.
qreal inkBottom(QPlainTextEdit* memo) {
  qreal y = 0, bottom = 0;
  QAbstractTextDocumentLayout* layout = memo->document()->documentLayout();
  for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next()) {
    y += layout->blockBoundingRect(b).height();
    if (!b.text().trimmed().isEmpty()) bottom = y;
  }
  return bottom;
}

} // namespace

class InfoPagesTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    kivo::installFontSubstitutes();
    qunsetenv("KIVO_SITE");
    QVERIFY(noModule_.isValid());
    kivo::info::setBrowserModuleFolder(noModule_.path());
  }

  void aboutPageTextsAndPlaces() {
    FakeServices fakes;
    TFrame4 page(fakes.services);
    QCOMPARE(page.size(), QSize(785, 474));
    QCOMPARE(page.title->text(), QString("About"));
    QCOMPARE(page.title->pos(), QPoint(8, 8));
    QCOMPARE(page.head->geometry(), QRect(104, 16, 601, 105));
    QCOMPARE(page.Memo1->geometry(), QRect(192, 120, 417, 241));
    QCOMPARE(page.sitelink->pos(), QPoint(240, 384));
    QCOMPARE(page.sitelink->text(), QString("Click here to visit the Kivo homepage!"));
    QVERIFY(page.sitelink->font().underline());
    QCOMPARE(page.sitelink->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(page.iconFav->geometry(), QRect(608, 296, 176, 176));
    QVERIFY(!page.iconFav->pixmap().isNull());
    QCOMPARE(page.Label1->geometry(), QRect(784, 432, 2102, 16));
    QVERIFY(page.Label1->text().startsWith("Many thanks to: "));
    const int credits = QFontMetrics(page.Label1->font()).horizontalAdvance(page.Label1->text());
    QVERIFY2(credits <= 2102 && credits > 1900, qPrintable(QString::number(credits)));
    QVERIFY(page.head->isReadOnly() && page.Memo1->isReadOnly());

    const QStringList banner = page.head->toPlainText().split('\n');
    QCOMPARE(banner.size(), 7);
    for (const QString& line : banner)
      for (QChar c : line)
        QVERIFY2(QString(" /\\_`").contains(c), qPrintable(line));
    QCOMPARE(QFontInfo(page.head->font()).family(), QString("DejaVu Sans Mono"));
    QVERIFY(QFontInfo(page.head->font()).fixedPitch());

    const QStringList about = page.Memo1->toPlainText().split('\n');
    QCOMPARE(about.size(), 18);
    QCOMPARE(about.first(), QString("Kivo Workbench: trying to make your PSP life easier! With alot "));
    QVERIFY(about[8].startsWith(QString(37, ' ') + "--->> ") && about[8].endsWith(" <<---"));
    QVERIFY(about[8].mid(37 + 6).contains('@'));
    QCOMPARE(about[10], QString("Thanks in advance for your comment :) "));
    for (int empty : {4, 7, 9, 11, 15})
      QVERIFY(about[empty].isEmpty());
    QVERIFY(about[17].startsWith("~Plovik (") && about[17].endsWith(")"));

    // Nothing of the fixed texts is cut off: the memos have no scroll bars.
    QVERIFY(widest(banner, page.head->font()) <= textWidth(page.head));
    QVERIFY(widest(about, page.Memo1->font()) <= textWidth(page.Memo1));
    QVERIFY2(inkBottom(page.Memo1) <= textHeight(page.Memo1),
             qPrintable(QString::number(inkBottom(page.Memo1))));
    QVERIFY2(inkBottom(page.head) <= textHeight(page.head),
             qPrintable(QString::number(inkBottom(page.head))));
  }

  void changelogPanel() {
    Tchangelog panel;
    QCOMPARE(panel.size(), QSize(497, 402));
    QCOMPARE(panel.Memo1->width(), 497);
    QVERIFY(panel.Memo1->height() >= 402);
    QVERIFY(panel.Memo1->isReadOnly());
    QCOMPARE(panel.Memo1->palette().color(QPalette::Base), QColor(244, 244, 244));
    const QStringList lines = panel.Memo1->toPlainText().split('\n');
    QCOMPARE(lines.size(), 25);
    QCOMPARE(lines[2], QString("Thank you for using Kivo Workbench. I hope you will "));
    QCOMPARE(lines[14], QString("- New song on the about page! :D "));
    QVERIFY(lines[15].startsWith("- It recognizes PRX files, so "));
    QCOMPARE(lines[24], QString(" ~Plovik"));
    QVERIFY(widest(lines, panel.Memo1->font()) <= textWidth(panel.Memo1));
    QVERIFY2(inkBottom(panel.Memo1) <= textHeight(panel.Memo1),
             qPrintable(QString::number(inkBottom(panel.Memo1))));
  }

  // 50 px a second over 784 + 2102 px: out of sight from about 58 s to the 90 s restart.
  void creditsScrollAndRestart() {
    FakeServices fakes;
    TFrame4 page(fakes.services);
    QVERIFY(page.t1->isActive() && page.timer15->isActive());
    QCOMPARE(page.t1->interval(), 20);
    QCOMPARE(page.timer15->interval(), 90000);
    for (int period = 0; period < 2; ++period) {
      for (int tick = 1; tick <= 4500; ++tick) {
        page.t1Timer();
        const bool inSight = page.Label1->geometry().right() >= 0;
        if (tick == 50) QCOMPARE(page.Label1->x(), 734);
        if (tick * 20 >= 58000) QVERIFY2(!inSight, qPrintable(QString::number(tick)));
        if (tick * 20 <= 57000) QVERIFY(inSight);
      }
      page.timer15Timer();
      QCOMPARE(page.Label1->pos(), QPoint(784, 432));
    }
  }

  void siteLinkOpensTheSite() {
    FakeServices fakes;
    TFrame4 page(fakes.services);
    QTest::mouseClick(page.sitelink, Qt::LeftButton);
    qputenv("KIVO_SITE", "127.0.0.1:8080/");
    page.sitelinkClick();
    qunsetenv("KIVO_SITE");
    QCOMPARE(fakes.runner.starts.size(), size_t(2));
    QCOMPARE(fakes.runner.starts[0].kind, StartRecord::OpenWithShell);
    QCOMPARE(fakes.runner.starts[0].commandLine, QString("http://www.plovik.example/Kivo/"));
    QCOMPARE(fakes.runner.starts[0].showState, 1);
    QCOMPARE(fakes.runner.starts[1].commandLine, QString("http://127.0.0.1:8080/Kivo/"));
  }

  void homePagePlaces() {
    FakeServices fakes;
    TframeMain page(fakes.services);
    QCOMPARE(page.Label1->text(), QString("Welcome to Kivo v1.5"));
    QCOMPARE(page.Label1->pos(), QPoint(8, 8));
    QCOMPARE(page.Label1->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(page.changelog1->geometry(), QRect(8, 32, 505, 265));
    QCOMPARE(page.web1->pos(), QPoint(0, 304));
    QCOMPARE(page.web2->pos(), QPoint(528, 24));
    QCOMPARE(page.loading->geometry(), QRect(768, 2, 16, 16));
    QCOMPARE(page.bgimage->geometry(), QRect(528, 304, 256, 169));
    QVERIFY(page.bgimage->testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(page.eggedit->geometry(), QRect(552, 248, 193, 21));
    QVERIFY(page.eggedit->isHidden() && page.eggedit->text().isEmpty());
    QVERIFY(page.loading->isHidden());
    QVERIFY(!page.timeregg->isActive());
    QCOMPARE(page.timeregg->interval(), 20000);

    // The panel scrolls vertically, never sideways, and its foot can be brought into view.
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(page.changelog1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QScrollBar* bar = page.changelog1->verticalScrollBar();
    QVERIFY(bar->isVisible());
    bar->setValue(bar->maximum());
    const QRect memoInView = page.changelog1->Memo1->geometry().translated(page.changelog1->widget()->pos());
    QCOMPARE(memoInView.bottom(), page.changelog1->viewport()->height() - 1);
  }

  void loadingSignIsOneFlagForBothViews() {
    FakeServices fakes;
    TframeMain page(fakes.services);
    emit page.web1->DownloadBegin();
    emit page.web2->DownloadBegin();
    QVERIFY(!page.loading->isHidden());
    emit page.web2->DownloadComplete(); // the first completion hides it, web1 still loading
    QVERIFY(page.loading->isHidden());
    QVERIFY(page.web1->browserVisible());
    emit page.web1->DownloadBegin();
    QVERIFY(!page.loading->isHidden());
  }

  void missingModuleLeavesAMessage() {
    FakeServices fakes;
    TframeMain page(fakes.services);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.web1->resize(10, 10);
    page.FrameEnter();
    QCOMPARE(page.web1->size(), QSize(520, 170));
    QCOMPARE(page.web2->size(), QSize(248, 273));
    QCOMPARE(page.web1->requested(), QUrl("http://www.plovik.example/Kivo/v.php?version=100"));
    QCOMPARE(page.web2->requested(), QUrl("http://www.plovik.example/Kivo/chat.htm"));
    QTRY_VERIFY(page.web1->attached() && page.web2->attached());
    for (kivo::info::TWebView* web : {page.web1, page.web2}) {
      QVERIFY(!web->hasBrowser());
      auto* message = web->findChild<QLabel*>("message");
      QVERIFY(message && message->isVisible());
      QCOMPARE(message->text(), kivo::info::kNoBrowserText);
    }
    QVERIFY(page.loading->isHidden());
    page.FrameEnter(); // entering again is harmless
    QCOMPARE(page.web1->findChildren<QLabel*>().size(), 1);
  }

  // Dismissed within 20 s: the marker is set before the timer fires, so the punishment follows.
  void eggDismissedFast() {
    FakeServices fakes;
    TframeMain page(fakes.services);
    QTest::mouseDClick(page.Label1, Qt::LeftButton);
    const QStringList boxes = fakes.messages.texts();
    QCOMPARE(boxes, kivo::info::eggBoxes());
    QCOMPARE(boxes.size(), 74);
    QCOMPARE(boxes.first(), QString("Before you click OK, read this:"));
    QCOMPARE(boxes[1], QString("RULE 1: You MUST click with your mouse OK, or else im gonna punish you ;)"));
    QCOMPARE(boxes.last(), QString("Byebye, dont forget to leave a comment!"));
    const int cheat = boxes.indexOf("CHEATER!!!");
    QVERIFY(cheat > 1);
    QCOMPARE(boxes.mid(cheat + 1, 8),
             (QStringList{"* Format C: /y *", "    .     ", "   ...    ", "  .....   ", " .......  ",
                          "......... ", "Done, rebooting computer.", "Just kidding :D"}));
    QVERIFY(boxes.count("But why?") >= 2 && boxes.count("Cya...") >= 2);
    const int dots = boxes.indexOf("...");
    QCOMPARE(boxes.mid(dots, 3), (QStringList{"...", "...", "..."}));
    QCOMPARE(page.eggedit->text(), QString("cheater"));
    QVERIFY(page.timeregg->isActive());
    QVERIFY(fakes.runner.starts.empty());

    fakes.messages.boxes.clear();
    page.timeregg->setInterval(1); // let the real timer fire the check
    QTRY_VERIFY(!page.timeregg->isActive());
    QCOMPARE(fakes.messages.texts(), (QStringList{kivo::info::kPunishFirst, kivo::info::kPunishSecond}));
    QCOMPARE(fakes.runner.commandLines(), QStringList(3, "notepad"));
    for (const StartRecord& s : fakes.runner.starts) {
      QCOMPARE(s.kind, StartRecord::StartAndForget);
      QCOMPARE(s.showState, 1);
    }
  }

  // Slower than 20 s: the check runs inside an open box, finds no marker and switches itself off.
  // A second pass after that always ends in the punishment, however slow.
  void eggDismissedSlowlyThenAgain() {
    FakeServices fakes;
    TframeMain page(fakes.services);
    fakes.messages.whileOpen = [&](const BoxRecord&) {
      if (fakes.messages.boxes.size() % 74 == 40) page.timereggTimer();
    };
    page.Label1DblClick();
    QCOMPARE(fakes.messages.boxes.size(), size_t(74));
    QVERIFY(!page.timeregg->isActive());
    QCOMPARE(page.eggedit->text(), QString("cheater"));
    QVERIFY(fakes.runner.starts.empty());

    page.Label1DblClick();
    const QStringList texts = fakes.messages.texts();
    QCOMPARE(texts.size(), 74 + 40 + 2 + 34);
    QCOMPARE(texts.mid(114, 2), (QStringList{kivo::info::kPunishFirst, kivo::info::kPunishSecond}));
    QCOMPARE(texts.last(), QString("Byebye, dont forget to leave a comment!"));
    QCOMPARE(fakes.runner.starts.size(), size_t(3));
    QVERIFY(!page.timeregg->isActive());
  }

  // Punishment boxes left open let the check run again inside them; the editors stay few.
  void punishmentRepeatsInsideItsBoxes() {
    FakeServices fakes;
    TframeMain page(fakes.services);
    page.eggedit->setText("cheater");
    page.timeregg->start();
    int nested = 0;
    fakes.messages.whileOpen = [&](const BoxRecord& box) {
      const QString text = box.text; // the record may move when a nested box is added
      if (text == kivo::info::kPunishSecond && nested < 3) {
        ++nested;
        QVERIFY(page.timeregg->isActive());
        page.timereggTimer();
      }
    };
    page.timereggTimer();
    QCOMPARE(fakes.messages.boxes.size(), size_t(8));
    QCOMPARE(fakes.runner.starts.size(), size_t(3));
    QVERIFY(!page.timeregg->isActive());
    // A later punishment gets its own small batch.
    fakes.messages.whileOpen = nullptr;
    page.timereggTimer();
    QCOMPARE(fakes.runner.starts.size(), size_t(6));
  }

private:
  QTemporaryDir noModule_;
};

QTEST_MAIN(InfoPagesTest)
#include "test_infopages.moc"
