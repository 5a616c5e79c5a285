#pragma once
// TSimpleTimer: a timer for objects that are not widgets. An interval of 0 cannot run; enabling
// a running timer restarts its count; a new interval restarts a running timer (0 stops it).

#include <QTimer>
#include <functional>

class TSimpleTimer {
public:
  explicit TSimpleTimer(int intervalMs = 1000, std::function<void()> onTimer = {});

  int interval() const { return interval_; }
  void setInterval(int ms);
  bool enabled() const { return timer_.isActive(); }
  /// Returns whether the timer runs now.
  bool setEnabled(bool on);
  void setOnTimer(std::function<void()> handler) { onTimer_ = std::move(handler); }

private:
  QTimer timer_;
  int interval_;
  std::function<void()> onTimer_;
};
