#pragma once
// For the start-up benchmark: with KIVO_REPORT_FIRST_PAINT set, the program prints the
// monotonic clock at the moment its window has first been painted, then quits.

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <time.h>

namespace kivo {

class FirstPaintReporter : public QObject {
public:
  using QObject::QObject;

  static void watch(QWidget* window) {
    if (qEnvironmentVariableIsSet("KIVO_REPORT_FIRST_PAINT")) window->installEventFilter(new FirstPaintReporter(window));
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      // Posted, so it runs once the paint has reached the screen.
      QTimer::singleShot(0, this, [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("first-paint %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
        std::fflush(stdout);
        QCoreApplication::exit(0);
      });
    }
    return QObject::eventFilter(watched, event);
  }

private:
  bool seen_ = false;
};

}  // namespace kivo
