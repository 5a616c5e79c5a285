// The yardstick of the start-up probe: a bare Qt Widgets window of Kivo's size.
#include "shell/firstpaint.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.resize(813, 617);
  kivo::FirstPaintReporter::watch(&window);
  window.show();
  return app.exec();
}
