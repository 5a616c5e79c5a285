// "Minimize to tray" on a desktop whose tray speaks StatusNotifierItem, on a private session bus
// with a watcher, a host and a notification server of our own (fake_tray_host): the icon's click,
// its secondary click and its menu bring the window back, and the balloon says so.
#include "shell/formMain.h"
#include "shell/page.h"
#include "shell/tests/kit/fakes.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QProcess>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QtTest>

using namespace kivo::testing;

namespace {

// Labels of a dbusmenu layout (ia{sv}av), by item id.
void readLayout(const QDBusArgument& arg, QMap<QString, int>& labels) {
  arg.beginStructure();
  int id = 0;
  QVariantMap properties;
  arg >> id >> properties;
  if (properties.contains(QStringLiteral("label")))
    labels.insert(properties.value(QStringLiteral("label")).toString().remove(QLatin1Char('&')), id);
  arg.beginArray();
  while (!arg.atEnd()) {
    QDBusVariant child;
    arg >> child;
    readLayout(child.variant().value<QDBusArgument>(), labels);
  }
  arg.endArray();
  arg.endStructure();
}

}  // namespace

class TraySniTest : public QObject {
  Q_OBJECT
private:
  QProcess host_;
  QStringList heard_;
  QString itemService_, itemPath_;

  void listen() {
    while (host_.canReadLine()) heard_ << QString::fromUtf8(host_.readLine()).trimmed();
  }
  QString heardLine(const QString& start) {
    listen();
    for (const QString& line : heard_)
      if (line.startsWith(start)) return line;
    return {};
  }
  // Asks the item over the bus, as the desktop's tray does, and waits for the answer.
  QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
    m.setArguments(arguments);
    QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(m));
    if (!QTest::qWaitFor([&] { return watcher.isFinished(); }, 10000)) return {};
    return watcher.reply();
  }
  // Each time the icon is shown it registers anew, maybe from another connection.
  void toTray(TfrmMain& w) {
    heard_.clear();
    w.gototrayClick();
    QVERIFY(!w.isVisible());
    QVERIFY(w.tray1->iconVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!heardLine(QStringLiteral("item ")).isEmpty(), 10000);
    itemService_ = heardLine(QStringLiteral("item ")).mid(5);
    itemPath_ = QStringLiteral("/StatusNotifierItem");
    if (const qsizetype slash = itemService_.indexOf(QLatin1Char('/')); slash > 0) {
      itemPath_ = itemService_.mid(slash);
      itemService_ = itemService_.left(slash);
    }
  }

private slots:
  void initTestCase() {
    if (!QDBusConnection::sessionBus().isConnected()) QSKIP("no session bus (run under dbus-run-session)");
    host_.start(QStringLiteral(KIVO_FAKE_TRAY_HOST), {});
    QVERIFY(host_.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!heardLine(QStringLiteral("ready")).isEmpty(), 10000);
    kivo::installFontSubstitutes();
    QVERIFY(QDir::setCurrent(QStringLiteral(KIVO_PROGRAM_DIR)));
  }
  void cleanupTestCase() {
    host_.kill();
    host_.waitForFinished();
  }

  void aClickTheMenuAndTheBalloonWork() {
    QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
    FakeServices fakes;
    FakePlayer player;
    TfrmMain w(fakes.services, player, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    toTray(w);
    QVERIFY(w.tray1->activatesOnClick());
    // The balloon names what works in this tray: no double click here.
    QTRY_VERIFY_WITH_TIMEOUT(!heardLine(QStringLiteral("notify Kivo is hidden.")).isEmpty(), 10000);
    const QString balloon = heardLine(QStringLiteral("notify Kivo is hidden."));
    QVERIFY2(!balloon.contains(QStringLiteral("Double click")), qPrintable(balloon));
    QVERIFY2(balloon.contains(QStringLiteral("Click its icon")), qPrintable(balloon));
    QCOMPARE(heard_.filter(QRegularExpression(QStringLiteral("^notify"))).size(), 1);  // and no empty one before it

    // Activate: a click on the icon.
    const QString sni = QStringLiteral("org.kde.StatusNotifierItem");
    QCOMPARE(call(itemService_, itemPath_, sni, QStringLiteral("Activate"), {0, 0}).type(), QDBusMessage::ReplyMessage);
    QTRY_VERIFY(w.isVisible());
    QVERIFY(!w.tray1->iconVisible());

    // SecondaryActivate: a middle click.
    toTray(w);
    QCOMPARE(call(itemService_, itemPath_, sni, QStringLiteral("SecondaryActivate"), {0, 0}).type(),
             QDBusMessage::ReplyMessage);
    QTRY_VERIFY(w.isVisible());
    QVERIFY(!w.tray1->iconVisible());

    // The icon's menu: Restore and Quit; Restore brings the window back.
    toTray(w);
    const QDBusMessage menuProperty =
        call(itemService_, itemPath_, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
             {sni, QStringLiteral("Menu")});
    QCOMPARE(menuProperty.type(), QDBusMessage::ReplyMessage);
    const QString menuPath =
        qvariant_cast<QDBusObjectPath>(menuProperty.arguments().value(0).value<QDBusVariant>().variant()).path();
    QVERIFY2(!menuPath.isEmpty() && menuPath != QLatin1String("/NO_DBUSMENU"), qPrintable(menuPath));
    const QString dbusmenu = QStringLiteral("com.canonical.dbusmenu");
    const QDBusMessage layout =
        call(itemService_, menuPath, dbusmenu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    QCOMPARE(layout.type(), QDBusMessage::ReplyMessage);
    QMap<QString, int> labels;
    readLayout(layout.arguments().value(1).value<QDBusArgument>(), labels);
    QVERIFY2(labels.contains(QStringLiteral("Restore")) && labels.contains(QStringLiteral("Quit")),
             qPrintable(QStringList(labels.keys()).join(QLatin1Char(','))));
    call(itemService_, menuPath, dbusmenu, QStringLiteral("Event"),
         {labels.value(QStringLiteral("Restore")), QStringLiteral("clicked"),
          QVariant::fromValue(QDBusVariant(QVariant(0))), 0u});
    QTRY_VERIFY(w.isVisible());
    QVERIFY(!w.tray1->iconVisible());
  }
};

QTEST_MAIN(TraySniTest)
#include "test_tray_sni.moc"
