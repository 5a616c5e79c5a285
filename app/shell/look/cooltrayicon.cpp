#include "cooltrayicon.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace {

// The desktop's notification area through Qt. Qt has no signal for the area coming back, so
// its presence is polled while an icon should be shown. Qt's tray icon is made only when an icon
// is first shown: making it reaches for the session bus, which a start need not wait for.
class QtNotifyArea : public NotifyArea {
public:
  QtNotifyArea() : watch_(1000, [this] { poll(); }) {}
  ~QtNotifyArea() override {
    if (icon_) icon_->hide();
  }

  bool available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

  void add(const TrayIconData& data) override {
    apply(data);
    icon_->hide();
    icon_->show();
    wasAvailable_ = available();
    watch_.setEnabled(true);
  }
  void modify(const TrayIconData& data) override {
    if (!icon_) return;  // nothing shown yet: add() applies the data
    apply(data);
    if (!data.withBalloon || !icon_->isVisible()) return;
    // An empty balloon takes down the one showing.
    icon_->showMessage(data.infoTitle, data.info, balloonIcon(data.infoFlags), data.timeoutMs);
  }
  void remove() override {
    watch_.setEnabled(false);
    if (icon_) icon_->hide();
  }
  void setMenu(QMenu* menu) override {
    menu_ = menu;
    if (icon_) icon_->setContextMenu(menu);
  }

private:
  static QSystemTrayIcon::MessageIcon balloonIcon(int flags) {
    switch (flags) {
    case 1: return QSystemTrayIcon::Information;
    case 2: return QSystemTrayIcon::Warning;
    case 3: return QSystemTrayIcon::Critical;
    default: return QSystemTrayIcon::NoIcon;
    }
  }
  void apply(const TrayIconData& data) {
    if (!icon_) {
      icon_ = std::make_unique<QSystemTrayIcon>();
      icon_->setContextMenu(menu_);
      QObject::connect(icon_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
        if (!onMouse) return;
        if (reason == QSystemTrayIcon::DoubleClick) onMouse(Mouse::DoubleClick);
        else if (reason == QSystemTrayIcon::Trigger) onMouse(Mouse::Click);
        else if (reason == QSystemTrayIcon::Context) onMouse(Mouse::Context);
      });
    }
    icon_->setIcon(data.icon);
    icon_->setToolTip(data.tip);
  }
  void poll() {
    const bool now = available();
    if (now && !wasAvailable_ && onRecreated) onRecreated();
    if (!now && wasAvailable_ && onLost) onLost();
    wasAvailable_ = now;
  }

  std::unique_ptr<QSystemTrayIcon> icon_;
  QPointer<QMenu> menu_;
  TSimpleTimer watch_;
  bool wasAvailable_ = false;
};

}  // namespace

TCoolTrayIcon::TCoolTrayIcon(QWidget* owner, std::unique_ptr<NotifyArea> area)
    : QObject(owner), owner_(owner), area_(area ? std::move(area) : std::make_unique<QtNotifyArea>()),
      clickTimer_(QApplication::doubleClickInterval()), cycleTimer_(0), lostTimer_(0) {
  area_->onMouse = [this](NotifyArea::Mouse m) { mouse(m); };
  area_->onRecreated = [this] {
    lostTimer_.setEnabled(false);
    if (iconVisible_) area_->add(data_);
  };
  // A panel that restarts is back within a moment; one that stays away leaves no icon.
  area_->onLost = [this] {
    lostTimer_.setInterval(lostGraceMs);
    lostTimer_.setEnabled(iconVisible_);
  };
  lostTimer_.setOnTimer([this] {
    lostTimer_.setEnabled(false);
    if (iconVisible_ && OnAreaLost) OnAreaLost();
  });
  clickTimer_.setOnTimer([this] {
    clickTimer_.setEnabled(false);
    if (OnClick) OnClick();
  });
  cycleTimer_.setOnTimer([this] { cycle(); });
  if (owner_) owner_->installEventFilter(this);
}

TCoolTrayIcon::~TCoolTrayIcon() {
  if (owner_) owner_->removeEventFilter(this);
  if (iconVisible_) area_->remove();
}

void TCoolTrayIcon::setIconVisible(bool on) {
  iconVisible_ = on;
  if (!on) lostTimer_.setEnabled(false);
  if (on) area_->add(data_);
  else area_->remove();
}

void TCoolTrayIcon::setIcon(const QIcon& icon) {
  data_.icon = icon;
  if (iconVisible_) Refresh();
}

void TCoolTrayIcon::setShowHint(bool on) {
  showHint_ = on;
  updateTip();
}

void TCoolTrayIcon::setHint(const QString& text) {
  hint_ = text;
  updateTip();
}

void TCoolTrayIcon::updateTip() {
  data_.tip = showHint_ && !hint_.isEmpty() ? hint_.left(127) : QString();
  if (iconVisible_) Refresh();
}

void TCoolTrayIcon::setCycleIcons(bool on) {
  cycleIcons_ = on;
  cycleTimer_.setEnabled(on && !iconList_.isEmpty());
}

void TCoolTrayIcon::setCycleInterval(int ms) {
  cycleTimer_.setInterval(ms);
  cycleTimer_.setEnabled(cycleIcons_ && !iconList_.isEmpty());
}

void TCoolTrayIcon::setIconIndex(int index) {
  iconIndex_ = index;
  if (index >= 0 && index < iconList_.size()) setIcon(iconList_.at(index));
}

void TCoolTrayIcon::setIconList(const QList<QIcon>& icons) {
  iconList_ = icons;
  setCycleIcons(cycleIcons_);
}

void TCoolTrayIcon::cycle() {
  if (iconList_.isEmpty()) return;
  setIconIndex((iconIndex_ + 1) % iconList_.size());
}

void TCoolTrayIcon::Refresh() { area_->modify(data_); }

void TCoolTrayIcon::ShowBalloonHint(const QString& title, const QString& text, BalloonIcon icon,
                                    int timeoutSeconds) {
  data_.withBalloon = true;
  data_.info.clear();
  area_->modify(data_);
  data_.info = text.left(255);
  data_.infoTitle = title.left(63);
  data_.timeoutMs = timeoutSeconds * 1000;
  data_.infoFlags = icon;
  area_->modify(data_);
  data_.withBalloon = false;
}

void TCoolTrayIcon::HideMainForm() {
  if (!owner_) return;
  owner_->hide();
  HideTaskBarIcon();
}

void TCoolTrayIcon::HideTaskBarIcon() {}

void TCoolTrayIcon::ShowMainForm() {
  if (!owner_) return;
  owner_->setWindowState(owner_->windowState() & ~Qt::WindowMinimized);
  owner_->show();
  owner_->raise();
  owner_->activateWindow();
}

void TCoolTrayIcon::mouse(NotifyArea::Mouse m) {
  if (!Enabled) return;
  if (m == NotifyArea::Mouse::DoubleClick) {
    clickTimer_.setEnabled(false);  // no single click after a double click
    if (OnDblClick) OnDblClick();
  } else if (m == NotifyArea::Mouse::Click && OnClick) {
    clickTimer_.setEnabled(true);
  }
}

bool TCoolTrayIcon::eventFilter(QObject* watched, QEvent* event) {
  if (watched != owner_) return false;
  if (event->type() == QEvent::WindowStateChange) {
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
    const bool isMinimized = owner_->windowState() & Qt::WindowMinimized;
    if (wasMinimized && !isMinimized) {
      // Restored from its taskbar entry: bring the window itself back too.
      owner_->show();
    } else if (!wasMinimized && isMinimized && MinimizeToTray) {
      HideMainForm();
      if (!iconVisible_) setIconVisible(true);
    }
  } else if (event->type() == QEvent::Show && !event->spontaneous()) {
    // To the front whenever it is shown. Asked once the show has gone out: the show event comes
    // first, and X refuses the focus to a window that is not mapped yet.
    QTimer::singleShot(0, owner_, [w = owner_] {
      w->raise();
      w->activateWindow();
      // Hidden and shown again before Qt saw the focus leave, the window is still the desktop's
      // focus window, yet Qt's widgets count no window active (and the translucency stays low).
      if (QGuiApplication::focusWindow() == w->windowHandle() && !w->isActiveWindow())
        QApplication::setActiveWindow(w);
    });
  }
  return false;
}
