// The mask matcher on a table: sets, ranges, "!", the "*?" rule, "." as an ordinary
// character, case, and the masks that are invalid.
#include "link/filemask.h"

#include <QtTest>

class FileMaskTest : public QObject {
  Q_OBJECT
private slots:
  void matching_data() {
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("hit");
    // "." is ordinary: "*.*" needs a dot somewhere.
    QTest::newRow("star-dot-star README") << "*.*" << "README" << false;
    QTest::newRow("star-dot-star README.txt") << "*.*" << "README.txt" << true;
    QTest::newRow("star-dot-star trailing dot") << "*.*" << "a." << true;
    QTest::newRow("star empty") << "*" << "" << true;
    QTest::newRow("star-dot empty") << "*.*" << "" << false;
    QTest::newRow("dot not any") << "a.c" << "abc" << false;
    // "?" is one character; right after "*" it adds nothing.
    QTest::newRow("question one") << "?.txt" << "a.txt" << true;
    QTest::newRow("question none") << "?.txt" << ".txt" << false;
    QTest::newRow("question two") << "?.txt" << "ab.txt" << false;
    QTest::newRow("star-question empty") << "a*?" << "a" << true;
    QTest::newRow("star-question-question") << "a*??" << "a" << true;
    QTest::newRow("question-star needs one") << "a?*" << "a" << false;
    QTest::newRow("question-star one") << "a?*" << "ab" << true;
    // Backtracking over several stars.
    QTest::newRow("stars backtrack") << "*ab*ab" << "xabyabzab" << true;
    QTest::newRow("stars fail") << "*ab*ab" << "xabyabza" << false;
    QTest::newRow("star middle") << "a*z" << "abcz" << true;
    QTest::newRow("star middle miss") << "a*z" << "abcza" << false;
    // Case: letters a to z either way, in literals and in sets.
    QTest::newRow("case literal") << "readme.TXT" << "README.txt" << true;
    QTest::newRow("case set") << "[a-c]x" << "Bx" << true;
    QTest::newRow("case set upper range") << "[A-C]x" << "bx" << true;
    QTest::newRow("case not beyond ascii") << "\u00e9" << "\u00c9" << false;
    // Sets, ranges and inversion.
    QTest::newRow("set list") << "[abc].txt" << "b.txt" << true;
    QTest::newRow("set list miss") << "[abc].txt" << "d.txt" << false;
    QTest::newRow("range") << "file[0-9]" << "file7" << true;
    QTest::newRow("range miss") << "file[0-9]" << "filex" << false;
    QTest::newRow("ranges and chars") << "[a-cx_0-2]" << "_" << true;
    QTest::newRow("inverted") << "[!0-9]*" << "a1" << true;
    QTest::newRow("inverted miss") << "[!0-9]*" << "1a" << false;
    QTest::newRow("set is one char") << "[ab]" << "ab" << false;
    QTest::newRow("dash at end literal") << "[a-]" << "-" << true;
    QTest::newRow("bang later literal") << "[a!]" << "!" << true;
    QTest::newRow("star in set literal") << "[*]" << "x" << false;
    QTest::newRow("reversed range empty") << "[z-a]" << "m" << false;
    QTest::newRow("non-bmp one char") << "?" << "\U0001F600" << true;
  }
  void matching() {
    QFETCH(QString, mask);
    QFETCH(QString, name);
    QFETCH(bool, hit);
    QCOMPARE(kivo::matchesMask(mask, name), std::optional<bool>(hit));
  }

  void invalidMasks_data() {
    QTest::addColumn<QString>("mask");
    QTest::newRow("unclosed") << "[abc";
    QTest::newRow("unclosed range") << "*.[a-";
    QTest::newRow("empty") << "a[]";
    QTest::newRow("empty inverted") << "[!]";
    QTest::newRow("leading dash") << "[-a]";
    QTest::newRow("leading dash inverted") << "[!-a]";
    QTest::newRow("bang only") << "[!";
  }
  void invalidMasks() {
    QFETCH(QString, mask);
    QVERIFY(!kivo::FileMask::compile(mask));
    QVERIFY(!kivo::matchesMask(mask, QStringLiteral("anything")));
  }

  void longNamesStayQuick() {
    // A naive recursive matcher takes exponential time here.
    const auto mask = kivo::FileMask::compile(QStringLiteral("*a*a*a*a*a*a*a*a*b"));
    QVERIFY(mask);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!mask->matches(QString(5000, QLatin1Char('a'))));
    QVERIFY(timer.elapsed() < 2000);
  }
};

QTEST_GUILESS_MAIN(FileMaskTest)
#include "test_filemask.moc"
