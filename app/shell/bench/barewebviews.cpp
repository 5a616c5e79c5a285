// The yardstick of the memory probe: a bare window of Kivo's size holding two web views of the
// Home page's sizes, each loading the address it is given, with the engine's default settings.
#include <QApplication>
#include <QWebEngineView>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.resize(813, 617);
  QWebEngineView version(&window);
  version.setGeometry(18, 65 + 304, 520, 170);
  QWebEngineView chat(&window);
  chat.setGeometry(18 + 528, 65 + 24, 248, 273);
  window.show();
  version.setUrl(QUrl(app.arguments().value(1)));
  chat.setUrl(QUrl(app.arguments().value(2)));
  return app.exec();
}
