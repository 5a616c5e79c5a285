// The folder chooser with Qt's real dialog: a typed folder that does not exist yet is asked
// about and made; "No" keeps the dialog open; the Help button answers.
#include "shell/folderchooser.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using kivo::FolderChooser;

namespace {

QLineEdit* nameEdit(FolderChooser& d) { return d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }
QPushButton* chooseButton(FolderChooser& d) {
  return d.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open);
}

}  // namespace

class FolderChooserTest : public QObject {
  Q_OBJECT
private slots:
  void typedNewFolderIsAskedForAndMade() {
    QTemporaryDir root;
    FolderChooser d(nullptr, QStringLiteral("Select Directory"), root.path());
    QStringList asked;
    bool yes = false;
    d.confirmCreate = [&](const QString& folder) {
      asked << folder;
      return yes;
    };
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QTest::keyClicks(nameEdit(d), QStringLiteral("NEW/GAME"));
    QTRY_VERIFY(chooseButton(d)->isEnabled());  // Qt's dialog would grey it out for a missing folder

    QTest::keyClick(nameEdit(d), Qt::Key_Return);  // "No": the dialog stays, nothing is made
    QCOMPARE(asked, QStringList{root.filePath("NEW/GAME")});
    QVERIFY(d.isVisible());
    QVERIFY(!QFileInfo::exists(root.filePath("NEW")));

    yes = true;
    chooseButton(d)->click();
    QCOMPARE(asked.size(), 2);
    QVERIFY(QFileInfo(root.filePath("NEW/GAME")).isDir());
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(d.selectedFiles(), QStringList{root.filePath("NEW/GAME")});
  }

  void existingFolderIsNotAskedAbout() {
    QTemporaryDir root;
    QDir(root.path()).mkdir(QStringLiteral("old"));
    FolderChooser d(nullptr, QStringLiteral("Select Directory"), root.path());
    int asked = 0;
    d.confirmCreate = [&](const QString&) { return ++asked, true; };
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    nameEdit(d)->setText(root.filePath(QStringLiteral("old")));
    d.accept();
    QCOMPARE(asked, 0);
    QCOMPARE(d.result(), int(QDialog::Accepted));
  }

  void folderThatCannotBeMadeKeepsTheDialogOpen() {
    QTemporaryDir root;
    QFile blocker(root.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    FolderChooser d(nullptr, QStringLiteral("Select Directory"), root.path());
    d.confirmCreate = [](const QString&) { return true; };
    QStringList errors;
    d.showError = [&](const QString& text) { errors << text; };
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    nameEdit(d)->setText(QStringLiteral("file/sub"));  // a plain file is in the way
    d.accept();
    QCOMPARE(errors, QStringList{"Unable to create directory " + root.filePath("file/sub")});
    QVERIFY(d.isVisible());
  }

  void helpButtonShowsTheHelp() {
    FolderChooser d(nullptr, QStringLiteral("Select Directory"), QDir::tempPath());
    int shown = 0;
    d.showHelp = [&] { ++shown; };
    auto* help = d.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Help);
    QVERIFY(help);
    help->click();
    QCOMPARE(shown, 1);
  }
};

QTEST_MAIN(FolderChooserTest)
#include "test_folderchooser.moc"
