// The Home page inside the real window on an X screen: the first activation after a normal start
// loads both pages through the web module, and the window keeps working around the views.
#include "info/aboutpage.h"
#include "info/homepage.h"
#include "info/webview.h"
#include "shell/formMain.h"
#include "shell/page.h"
#include "shell/tests/kit/fakes.h"

#include <QElapsedTimer>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace kivo::testing;

class HomeWindowTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    kivo::installFontSubstitutes();
    QVERIFY(server_.listen(QHostAddress::LocalHost));
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection())
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
          const QByteArray head = socket->readAll();
          requests_ << QString::fromLatin1(head.left(head.indexOf("\r\n")).split(' ').value(1));
          const QByteArray body = "<html><body style='background:#dfe'><h3>Kivo page " +
                                  head.split(' ').value(1) + "</h3></body></html>";
          socket->write(
              "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
              QByteArray::number(body.size()) + "\r\n\r\n" + body);
          socket->disconnectFromHost();
        });
    });
    qputenv("KIVO_SITE", "http://127.0.0.1:" + QByteArray::number(server_.serverPort()));
    kivo::info::setBrowserModuleFolder(KIVO_PROGRAM_DIR "/plugins");
  }

  void startLoadsBothPages() {
    TempProgramFolder folder;
    folder.write("etc/snd.mp3", "ID3");
    FakeServices fakes;
    FakePlayer player;
    auto window = std::make_unique<TfrmMain>(fakes.services, player, QStringList{});
    // The views attach after the first paint; the window they land in stays the same X window,
    // on the screen all along, where it was put.
    struct Watch : QObject {
      int rebuilt = 0, hidden = 0;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::WinIdChange || e->type() == QEvent::PlatformSurface) ++rebuilt;
        if (e->type() == QEvent::Hide) ++hidden;
        return false;
      }
    } watch;
    QElapsedTimer since;
    since.start();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    const WId id = window->winId();
    const QPoint place = window->pos();
    window->installEventFilter(&watch);
    window->moved->stop();  // a backdrop would hide the window on purpose
    QTRY_VERIFY_WITH_TIMEOUT(requests_.contains("/Kivo/v.php?version=100"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(requests_.contains("/Kivo/chat.htm"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(window->frame0->loading->isHidden(), 20000);
    QVERIFY(window->frame0->web1->hasBrowser() && window->frame0->web2->hasBrowser());
    QCOMPARE(window->currentPage(), window->frame0);
    QTest::qWait(std::max<qint64>(0, 2000 - since.elapsed()));
    QCOMPARE(window->winId(), id);
    QCOMPARE(watch.rebuilt, 0);
    QCOMPARE(watch.hidden, 0);
    QCOMPARE(window->pos(), place);
    QVERIFY(window->isActiveWindow());
    if (qEnvironmentVariableIsSet("KIVO_SHOT")) {
      QTest::qWait(1500);
      QGuiApplication::primaryScreen()->grabWindow(0).save(qEnvironmentVariable("KIVO_SHOT") + "-home.png");
      window->Label2Click();
      QTest::qWait(500);
      QGuiApplication::primaryScreen()->grabWindow(0).save(qEnvironmentVariable("KIVO_SHOT") + "-about.png");
    }
    window.reset(); // the views go before the application object
  }

private:
  QTcpServer server_;
  QStringList requests_;
};

QTEST_MAIN(HomeWindowTest)
#include "test_homewindow.moc"
