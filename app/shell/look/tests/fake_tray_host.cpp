// A desktop's tray and notification service as a StatusNotifierItem desktop has them, on the
// session bus it is started on: a StatusNotifierWatcher with a host, and a notification server.
// It prints what reaches it, one line each, for a test to read:
//   ready
//   item SERVICE               (an icon registered; SERVICE as the item gave it)
//   notify SUMMARY<TAB>BODY    (a notification, the tray's balloons among them)
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

namespace {

void say(const QString& line) {
  std::printf("%s\n", qPrintable(line));
  std::fflush(stdout);
}

class Watcher : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
  Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
  QStringList items() const { return items_; }
  bool hostRegistered() const { return true; }
  int protocolVersion() const { return 0; }

public slots:
  void RegisterStatusNotifierItem(const QString& service) {
    // An item may give its path instead of a service name: then it lives at the sender's name.
    const QString full = service.startsWith(QLatin1Char('/')) ? message().service() + service : service;
    items_ << full;
    say(QStringLiteral("item ") + full);
    emit StatusNotifierItemRegistered(full);
  }
  void RegisterStatusNotifierHost(const QString&) {}

signals:
  void StatusNotifierItemRegistered(const QString& service);
  void StatusNotifierItemUnregistered(const QString& service);
  void StatusNotifierHostRegistered();

private:
  QStringList items_;
};

class Notifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
              const QVariantMap&, int) {
    say(QStringLiteral("notify %1\t%2").arg(summary, QString(body).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    return ++last_;
  }
  QStringList GetCapabilities() { return {QStringLiteral("body")}; }
  QString GetServerInformation(QString& vendor, QString& version, QString& spec) {
    vendor = QStringLiteral("kivo-tests");
    version = QStringLiteral("1");
    spec = QStringLiteral("1.2");
    return QStringLiteral("fake");
  }
  void CloseNotification(uint) {}

signals:
  void NotificationClosed(uint id, uint reason);
  void ActionInvoked(uint id, const QString& action);

private:
  uint last_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "fake_tray_host: no session bus\n");
    return 1;
  }
  Watcher watcher;
  Notifications notifications;
  const auto all = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                   QDBusConnection::ExportAllSignals;
  if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, all) ||
      !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")) ||
      !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications, all) ||
      !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
    std::fprintf(stderr, "fake_tray_host: cannot take the tray's names\n");
    return 1;
  }
  say(QStringLiteral("ready"));
  return app.exec();
}

#include "fake_tray_host.moc"
