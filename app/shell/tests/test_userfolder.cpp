// An installed Kivo works from the user's own copy of its program folder: everything the
// installation ships is reachable there, and everything Kivo writes stays there.
#include "shell/tests/kit/fakes.h"
#include "shell/userfolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

namespace {

void put(const QString& path, const QByteArray& bytes, bool executable = false) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  QCOMPARE(f.write(bytes), bytes.size());
  f.close();
  if (executable) QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner));
}

QByteArray get(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A program folder as an installation lays it out.
struct Installed {
  QTemporaryDir dir;
  Installed() {
    put(path("kivo"), "program", true);
    put(path("bin/ciso"), "tool", true);
    put(path("etc/snd.mp3"), "song");
    put(path(kivo::kInstalledMark), "");
    put(path("gfx/Themes/Vista black/top.gif"), "gif");
    QDir().mkpath(path("win/contconv/empty"));
  }
  QString path(const QString& rel = {}) const { return rel.isEmpty() ? dir.path() : dir.filePath(rel); }
};

}  // namespace

class UserFolderTest : public QObject {
  Q_OBJECT
private slots:
  void onlyAnInstalledOrReadOnlyFolderIsShared() {
    Installed installed;
    QVERIFY(kivo::isSharedProgramFolder(installed.path()));
    QTemporaryDir build;
    QVERIFY(!kivo::isSharedProgramFolder(build.path()));
    // The build's own folder is used as it is.
    QCOMPARE(kivo::workingProgramFolder(build.path()), build.path());
  }

  void theCopyReachesEveryInstalledFileAndKeepsWhatKivoWrites() {
    Installed installed;
    QTemporaryDir home;
    QString why;
    const QString copy = kivo::mirrorProgramFolder(installed.path(), home.path(), &why);
    QCOMPARE(copy, QDir(home.path()).filePath("kivo"));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(get(copy + "/etc/snd.mp3"), QByteArray("song"));
    QCOMPARE(get(copy + "/gfx/Themes/Vista black/top.gif"), QByteArray("gif"));
    QVERIFY(QFileInfo(copy + "/bin/ciso").isExecutable());
    QVERIFY(QFileInfo(copy + "/win/contconv/empty").isDir());
    // Folders are the user's own, so what Kivo writes lands beside the links, not in the installation.
    QVERIFY(!QFileInfo(copy + "/bin").isSymLink());
    put(copy + "/bin/ICON0.PNG", "staged");
    put(copy + "/temp.iso", "image");
    QVERIFY(QDir(copy).mkpath("backup/registry/2024-01-01"));
    QVERIFY(!QFile::exists(installed.path("bin/ICON0.PNG")));
    QVERIFY(!QFile::exists(installed.path("temp.iso")));
    QVERIFY(!QFile::exists(installed.path("backup")));

    // Started again, nothing the user or Kivo made there is lost.
    QCOMPARE(kivo::mirrorProgramFolder(installed.path(), home.path(), &why), copy);
    QCOMPARE(get(copy + "/bin/ICON0.PNG"), QByteArray("staged"));
    QCOMPARE(get(copy + "/temp.iso"), QByteArray("image"));
    QVERIFY(QFileInfo(copy + "/backup/registry/2024-01-01").isDir());

    // The workspace follows the installed folder found through the XDG data folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QCOMPARE(kivo::workingProgramFolder(installed.path()), copy);
    qunsetenv("XDG_DATA_HOME");
  }

  void anUpdateOfTheInstallationReachesTheCopy() {
    Installed installed;
    QTemporaryDir home;
    const QString copy = kivo::mirrorProgramFolder(installed.path(), home.path());
    QVERIFY(!copy.isEmpty());
    // A tool of the user's own under a shipped name stays theirs.
    QVERIFY(QFile::remove(copy + "/bin/ciso"));
    put(copy + "/bin/ciso", "mine", true);
    // A link of an older installation that has gone is pointed at this one again.
    QVERIFY(QFile::remove(copy + "/etc/snd.mp3"));
    QVERIFY(QFile::link(home.filePath("gone/snd.mp3"), copy + "/etc/snd.mp3"));
    // The update adds a tool, takes one away and changes a file in place.
    put(installed.path("bin/dax"), "new tool", true);
    put(installed.path("bin/old"), "old tool", true);
    QVERIFY(!kivo::mirrorProgramFolder(installed.path(), home.path()).isEmpty());
    QVERIFY(QFile::remove(installed.path("bin/old")));
    put(installed.path("gfx/Themes/Vista black/top.gif"), "new gif");

    QCOMPARE(kivo::mirrorProgramFolder(installed.path(), home.path()), copy);
    QCOMPARE(get(copy + "/bin/ciso"), QByteArray("mine"));
    QCOMPARE(get(copy + "/etc/snd.mp3"), QByteArray("song"));
    QCOMPARE(get(copy + "/bin/dax"), QByteArray("new tool"));
    QVERIFY(!QFileInfo(copy + "/bin/old").isSymLink());
    QCOMPARE(get(copy + "/gfx/Themes/Vista black/top.gif"), QByteArray("new gif"));
    QCOMPARE(QDir(copy + "/bin").entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"ciso", "dax"}));  // no stray temporaries either
  }

  // "Edit controls" opens keyboardSetup.cfg: the user's copy holds a file of their own, which a
  // link to the installation's (root's) file could not be.
  void editableFilesAreTheUsersOwnCopies() {
    Installed installed;
    put(installed.path("keyboardSetup.cfg"), "keys v1");
    QTemporaryDir home;
    QString why;
    const QString copy = kivo::mirrorProgramFolder(installed.path(), home.path(), &why);
    QVERIFY2(!copy.isEmpty(), qPrintable(why));
    const QString cfg = copy + "/keyboardSetup.cfg";
    QVERIFY(!QFileInfo(cfg).isSymLink());
    QCOMPARE(get(cfg), QByteArray("keys v1"));
    put(cfg, "my keys");
    QCOMPARE(get(installed.path("keyboardSetup.cfg")), QByteArray("keys v1"));
    // Later starts, and an update of the installation, keep the user's edits.
    put(installed.path("keyboardSetup.cfg"), "keys v2");
    QCOMPARE(kivo::mirrorProgramFolder(installed.path(), home.path()), copy);
    QCOMPARE(get(cfg), QByteArray("my keys"));

    // A folder made by an older Kivo holds a link to the installed file: it becomes a copy.
    QVERIFY(QFile::remove(cfg));
    QVERIFY(QFile::link(installed.path("keyboardSetup.cfg"), cfg));
    QCOMPARE(kivo::mirrorProgramFolder(installed.path(), home.path()), copy);
    QVERIFY(!QFileInfo(cfg).isSymLink());
    QCOMPARE(get(cfg), QByteArray("keys v2"));
    // A link of the user's own to a file elsewhere stays.
    put(home.filePath("elsewhere.cfg"), "theirs");
    QVERIFY(QFile::remove(cfg));
    QVERIFY(QFile::link(home.filePath("elsewhere.cfg"), cfg));
    QCOMPARE(kivo::mirrorProgramFolder(installed.path(), home.path()), copy);
    QCOMPARE(QFileInfo(cfg).symLinkTarget(), home.filePath("elsewhere.cfg"));
    QCOMPARE(QDir(copy).entryList({"keyboardSetup.cfg*"}, QDir::AllEntries | QDir::System), (QStringList{"keyboardSetup.cfg"}));
  }

  void aCopyThatCannotBeMadeIsReported() {
    Installed installed;
    QString why;
    // Inside the installation itself.
    QVERIFY(kivo::mirrorProgramFolder(installed.path(), installed.path(), &why).isEmpty());
    QVERIFY(why.contains("inside"));
    QVERIFY(!QFileInfo::exists(installed.path("kivo/etc")));
    // Where a file stands in the way of the folder.
    QTemporaryDir home;
    put(home.filePath("kivo"), "a file");
    QVERIFY(kivo::mirrorProgramFolder(installed.path(), home.path(), &why).isEmpty());
    QVERIFY(why.contains("cannot create"));
    QVERIFY(kivo::mirrorProgramFolder(home.filePath("missing"), home.path(), &why).isEmpty());
    // Kivo then still starts, from the installed folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QCOMPARE(kivo::workingProgramFolder(installed.path()), installed.path());
    qunsetenv("XDG_DATA_HOME");
  }

  void twoKivosStartingAtOnceBothGetTheirCopy() {
    Installed installed;
    for (int i = 0; i < 120; ++i) put(installed.path(QString("gfx/many/%1/%2.gif").arg(i % 12).arg(i)), "x");
    int failed = 0;
    for (int round = 0; round < 12; ++round) {
      QTemporaryDir home;
      int go[2];
      QVERIFY(pipe(go) == 0);
      pid_t kivos[2];
      for (pid_t& kivo : kivos) {
        kivo = fork();
        if (kivo == 0) {
          char c;
          if (read(go[0], &c, 1) != 1) _exit(2);
          _exit(kivo::mirrorProgramFolder(installed.path(), home.path()).isEmpty() ? 1 : 0);
        }
      }
      close(go[0]);
      QCOMPARE(write(go[1], "xx", 2), ssize_t(2));  // off they go, together
      close(go[1]);
      for (pid_t kivo : kivos) {
        int status = 0;
        waitpid(kivo, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
      }
      const QString copy = home.filePath("kivo");
      QCOMPARE(get(copy + "/gfx/many/11/119.gif"), QByteArray("x"));
      QCOMPARE(QDir(copy + "/bin").entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
               QStringList{"ciso"});
    }
    QCOMPARE(failed, 0);
  }

  void aLinkedCopyIsNotFollowedIntoTheInstallation() {
    Installed installed;
    QTemporaryDir home;
    // The per-user folder itself a link to the installation: Kivo would write there.
    QVERIFY(QFile::link(installed.path(), home.filePath("kivo")));
    QString why;
    QVERIFY(kivo::mirrorProgramFolder(installed.path(), home.path(), &why).isEmpty());
    QVERIFY2(why.contains("inside"), qPrintable(why));
    // A folder of the copy that leads into the installation becomes a folder of the user's own.
    QVERIFY(QFile::remove(home.filePath("kivo")));
    QVERIFY(QDir().mkpath(home.filePath("kivo")));
    QVERIFY(QFile::link(installed.path("bin"), home.filePath("kivo/bin")));
    const QString copy = kivo::mirrorProgramFolder(installed.path(), home.path(), &why);
    QVERIFY2(!copy.isEmpty(), qPrintable(why));
    QVERIFY(!QFileInfo(copy + "/bin").isSymLink());
    QCOMPARE(get(copy + "/bin/ciso"), QByteArray("tool"));
    put(copy + "/bin/ICON0.PNG", "staged");
    QVERIFY(!QFile::exists(installed.path("bin/ICON0.PNG")));
    // A link of the user's own to a folder elsewhere is theirs.
    QTemporaryDir elsewhere;
    QVERIFY(QDir(copy).removeRecursively() && QDir().mkpath(copy));
    QVERIFY(QFile::link(elsewhere.path(), copy + "/gfx"));
    QVERIFY(!kivo::mirrorProgramFolder(installed.path(), home.path(), &why).isEmpty());
    QVERIFY(QFileInfo(copy + "/gfx").isSymLink());
    QCOMPARE(get(elsewhere.filePath("Themes/Vista black/top.gif")), QByteArray("gif"));
  }

  void oneKivoAtATimeStagesInAFolder() {
    QTemporaryDir program;
    using kivo::Staging;
    QVERIFY(kivo::claimStaging(program.path(), Staging::Artwork));
    QVERIFY(kivo::claimStaging(program.path(), Staging::Artwork));  // held already: still this Kivo's
    {
      // Another Kivo is refused what this one holds, and gets what it does not.
      kivo::testing::OtherKivo other([&] {
        return !kivo::claimStaging(program.path(), Staging::Artwork) &&
               kivo::claimStaging(program.path(), Staging::TempImage);
      });
      QVERIFY(other.result());
      const kivo::StagingClaim claim(program.path(), Staging::TempImage);
      QVERIFY(!claim.held());
    }
    // Its claims went with it.
    {
      const kivo::StagingClaim claim(program.path(), Staging::TempImage);
      QVERIFY(claim.held());
      const kivo::StagingClaim again(program.path(), Staging::TempImage);
      QVERIFY(again.held());
    }
    kivo::releaseStaging(Staging::Artwork);
    kivo::testing::OtherKivo other([&] { return kivo::claimStaging(program.path(), Staging::Artwork); });
    QVERIFY(other.result());
  }

  void aFullFileSystemLeavesAnIncompleteCopyThatTheNextStartCompletes() {
    if (::geteuid() != 0) QSKIP("mounting a small file system needs root");
    Installed installed;
    for (int i = 0; i < 40; ++i) put(installed.path(QString("gfx/many/%1.gif").arg(i)), "x");
    QTemporaryDir home;
    // Room for a handful of entries only.
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k,nr_inodes=16", "tmpfs", home.path()}) != 0)
      QSKIP("cannot mount a tmpfs here");
    struct Unmount {
      QString path;
      ~Unmount() { QProcess::execute("umount", {path}); }
    } unmount{home.path()};
    QString why;
    QVERIFY(kivo::mirrorProgramFolder(installed.path(), home.path(), &why).isEmpty());
    QVERIFY2(why.contains("cannot"), qPrintable(why));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QCOMPARE(kivo::workingProgramFolder(installed.path()), installed.path());
    qunsetenv("XDG_DATA_HOME");
    QCOMPARE(QProcess::execute("mount", {"-o", "remount,nr_inodes=200", home.path()}), 0);
    const QString copy = kivo::mirrorProgramFolder(installed.path(), home.path(), &why);
    QVERIFY2(!copy.isEmpty(), qPrintable(why));
    QCOMPARE(get(copy + "/gfx/many/39.gif"), QByteArray("x"));
    QCOMPARE(get(copy + "/bin/ciso"), QByteArray("tool"));
  }
};

QTEST_GUILESS_MAIN(UserFolderTest)
#include "test_userfolder.moc"
