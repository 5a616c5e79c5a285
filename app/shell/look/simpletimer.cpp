#include "simpletimer.h"

TSimpleTimer::TSimpleTimer(int intervalMs, std::function<void()> onTimer)
    : interval_(std::max(0, intervalMs)), onTimer_(std::move(onTimer)) {
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (onTimer_) onTimer_();
  });
}

void TSimpleTimer::setInterval(int ms) {
  interval_ = std::max(0, ms);
  if (timer_.isActive()) setEnabled(true);
}

bool TSimpleTimer::setEnabled(bool on) {
  timer_.stop();
  if (on && interval_ > 0) timer_.start(interval_);
  return timer_.isActive();
}
