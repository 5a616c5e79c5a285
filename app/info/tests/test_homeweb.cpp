// The Home page's web views with the real module, against a small HTTP server on 127.0.0.1.
#include "info/homepage.h"
#include "info/webview.h"
#include "shell/tests/kit/fakes.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace kivo::testing;

namespace {

// Answers every GET with a small page; answers to held paths wait for release().
class LocalSite : public QObject {
public:
  LocalSite() {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection())
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
    });
  }
  bool listen() { return server_.listen(QHostAddress::LocalHost); }
  QByteArray base() const { return "http://127.0.0.1:" + QByteArray::number(server_.serverPort()); }

  QStringList requests; ///< path and query of every request, in order
  QStringList held;     ///< requests for these paths are answered only on release()

  int count(const QString& path) const { return requests.count(path); }
  void release() {
    held.clear();
    for (const QPointer<QTcpSocket>& socket : waiting_)
      if (socket) answer(socket);
    waiting_.clear();
  }

private:
  void read(QTcpSocket* socket) {
    QByteArray& buffer = buffers_[socket];
    buffer += socket->readAll();
    if (!buffer.contains("\r\n\r\n")) return;
    const QList<QByteArray> words = buffer.left(buffer.indexOf("\r\n")).split(' ');
    buffer.clear();
    const QString path = QString::fromLatin1(words.value(1));
    requests << path;
    if (held.contains(path))
      waiting_ << socket;
    else
      answer(socket, path.startsWith("/Kivo/"));
  }
  static void answer(QTcpSocket* socket, bool found = true) {
    const QByteArray body = found ? "<html><body>Kivo</body></html>" : "";
    socket->write((found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                  QByteArray("Content-Type: text/html\r\nConnection: close\r\nContent-Length: ") +
                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
  }

  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffers_;
  QList<QPointer<QTcpSocket>> waiting_;
};

} // namespace

class HomeWebTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    QVERIFY(site_.listen());
    qputenv("KIVO_SITE", site_.base());
    kivo::info::setBrowserModuleFolder(KIVO_PROGRAM_DIR "/plugins");
#ifdef Q_OS_UNIX
    // As root the loader itself must switch the sandbox off, or the first view ends the process.
    const bool root = ::geteuid() == 0;
    if (root) qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
#endif
    QString why;
    QVERIFY2(kivo::info::browserModule(&why), qPrintable(why));
#ifdef Q_OS_UNIX
    if (root) QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("1"));
#endif
  }

  void viewsLoadBothPagesAndTheSignFollows() {
    FakeServices fakes;
    auto page = std::make_unique<TframeMain>(fakes.services);
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
    QSignalSpy began(page->web1, &kivo::info::TWebView::DownloadBegin);
    QSignalSpy chatDone(page->web2, &kivo::info::TWebView::DownloadComplete);

    site_.held = QStringList{"/Kivo/chat.htm"};
    page->FrameEnter();
    QTRY_VERIFY_WITH_TIMEOUT(page->web1->hasBrowser() && page->web2->hasBrowser(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(site_.count("/Kivo/v.php?version=100"), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(site_.count("/Kivo/chat.htm"), 1, 20000);
    QVERIFY(!began.isEmpty());
    // The version page is done while the chat page still waits: the sign is already gone.
    QTRY_VERIFY_WITH_TIMEOUT(page->loading->isHidden(), 20000);
    QVERIFY(page->web1->browserVisible());
    QCOMPARE(page->web1->size(), QSize(520, 170));
    QCOMPARE(page->web2->size(), QSize(248, 273));

    QVERIFY(chatDone.isEmpty());
    site_.release();
    QTRY_VERIFY_WITH_TIMEOUT(!chatDone.isEmpty(), 20000);

    // Entering the page again reloads both; the sign stays until one of them is done.
    site_.held = QStringList{"/Kivo/v.php?version=100", "/Kivo/chat.htm"};
    page->FrameEnter();
    QTRY_COMPARE_WITH_TIMEOUT(site_.count("/Kivo/v.php?version=100"), 2, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(site_.count("/Kivo/chat.htm"), 2, 20000);
    QVERIFY(!page->loading->isHidden());
    site_.release();
    QTRY_VERIFY_WITH_TIMEOUT(page->loading->isHidden(), 20000);
    for (const QString& path : site_.requests)
      QVERIFY2(path.startsWith("/Kivo/") || path == "/favicon.ico", qPrintable(path));
    page.reset(); // the views go before the application object
  }

private:
  LocalSite site_;
};

QTEST_MAIN(HomeWebTest)
#include "test_homeweb.moc"
