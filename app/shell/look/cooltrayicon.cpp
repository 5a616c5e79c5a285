#include "cooltrayicon.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolTip>
#include <QWidget>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <cstdlib>
#include <optional>
#ifdef KIVO_XCB
#include <xcb/xcb.h>
#endif

namespace {

// A balloon beside the icon of a classic (XEmbed) tray. Qt's own places itself by the icon's
// position as Qt believes it, which for an icon the tray has taken in is the corner of the screen.
class TrayBalloon : public QFrame {
public:
  TrayBalloon() : QFrame(nullptr, Qt::ToolTip | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("trayBalloon"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setPalette(QToolTip::palette());
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 8, 12, 10);
    grid->setHorizontalSpacing(10);
    grid->addWidget(&picture_, 0, 0, 2, 1, Qt::AlignTop);
    QFont bold = title_.font();
    bold.setBold(true);
    title_.setFont(bold);
    grid->addWidget(&title_, 0, 1);
    text_.setWordWrap(true);
    grid->addWidget(&text_, 1, 1);
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, this, &QWidget::hide);
  }
  void show(const QString& title, const QString& text, int flags, int ms, const QRect& icon) {
    const QStyle::StandardPixmap kinds[] = {QStyle::SP_MessageBoxInformation, QStyle::SP_MessageBoxInformation,
                                            QStyle::SP_MessageBoxWarning, QStyle::SP_MessageBoxCritical};
    picture_.setPixmap(style()->standardIcon(kinds[std::clamp(flags, 0, 3)]).pixmap(32, 32));
    picture_.setVisible(flags != 0);
    title_.setText(title);
    text_.setText(text.trimmed());
    text_.setFixedWidth(std::min(360, std::max(200, text_.fontMetrics().horizontalAdvance(text.trimmed()) / 2)));
    adjustSize();
    QScreen* screen = QGuiApplication::screenAt(icon.center());
    const QRect room = screen ? screen->geometry() : QRect(QPoint(), size());
    // Above an icon in the lower half of the screen, below one in the upper half; its right edge
    // at the icon's, as far as the screen allows.
    const int y = icon.center().y() > room.center().y() ? icon.top() - 6 - height() : icon.bottom() + 7;
    const int x = icon.right() - width() + 1;
    move(std::clamp(x, room.left(), std::max(room.left(), room.right() - width() + 1)),
         std::clamp(y, room.top(), std::max(room.top(), room.bottom() - height() + 1)));
    QFrame::show();
    raise();
    if (ms > 0) timer_.start(ms);
  }

protected:
  void mousePressEvent(QMouseEvent*) override { hide(); }

private:
  QLabel picture_, title_, text_;
  QTimer timer_;
};

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
  // Qt shows the icon in a classic tray through a window of its own, and in a StatusNotifierItem
  // tray through the session bus, without one.
  bool activatesOnClick() const override { return icon_ && icon_->isVisible() && !classicIconWindow(); }

  void add(const TrayIconData& data) override {
    apply(data);
    icon_->hide();
    icon_->show();
    // Such a tray opens a menu of the icon's own, and this is the one it offers.
    if (activatesOnClick()) icon_->setContextMenu(menu_);
    wasAvailable_ = available();
    watch_.setEnabled(true);
  }
  void modify(const TrayIconData& data) override {
    if (!icon_) return;  // nothing shown yet: add() applies the data
    apply(data);
    if (!data.withBalloon || !icon_->isVisible()) return;
    if (classicIconWindow()) {
      balloonTries_ = 0;
      if (data.info.isEmpty()) {
        pendingBalloon_.reset();
        if (balloon_) balloon_->hide();
        return;
      }
      pendingBalloon_ = data;
      showBalloon();
      return;
    }
    // An empty balloon takes down the one showing; a desktop notification cannot be taken down
    // that way, and would show empty.
    if (data.info.isEmpty() && activatesOnClick()) return;
    icon_->showMessage(data.infoTitle, data.info, balloonIcon(data.infoFlags), data.timeoutMs);
  }
  void remove() override {
    watch_.setEnabled(false);
    pendingBalloon_.reset();
    if (balloon_) balloon_->hide();
    if (icon_) icon_->hide();
  }
  void setMenu(QMenu* menu) override {
    menu_ = menu;
    if (icon_ && activatesOnClick()) icon_->setContextMenu(menu);
  }

private:
  // The tray takes the icon in a moment after it is shown; until then its window stands in the
  // screen's corner. The balloon waits for its place (a while at most).
  void showBalloon() {
    if (!pendingBalloon_) return;
    QWidget* window = classicIconWindow();
    if (!window || !icon_ || !icon_->isVisible()) return;
    const QRect at = globalRect(window);
    if (at.topLeft() == QPoint(0, 0) && ++balloonTries_ < 20) {
      QTimer::singleShot(100, &balloonTimerOwner_, [this] { showBalloon(); });
      return;
    }
    if (!balloon_) balloon_ = std::make_unique<TrayBalloon>();
    const TrayIconData data = *pendingBalloon_;
    pendingBalloon_.reset();
    balloon_->show(data.infoTitle, data.info, data.infoFlags, data.timeoutMs, at);
  }
  static QWidget* classicIconWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0) return w;
    return nullptr;
  }
  // Where the tray really shows the icon: asked of the display, as the tray has made the icon's
  // window a child of one of its own and Qt may take the position within it for one on the screen.
  static QRect globalRect(QWidget* icon) {
    QPoint at = icon->mapToGlobal(QPoint(0, 0));
#ifdef KIVO_XCB
    if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>()) {
      xcb_connection_t* c = x11->connection();
      const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
      const xcb_translate_coordinates_cookie_t asked =
          xcb_translate_coordinates(c, xcb_window_t(icon->winId()), screen->root, 0, 0);
      if (xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(c, asked, nullptr)) {
        at = QPoint(reply->dst_x, reply->dst_y);
        std::free(reply);
      }
    }
#endif
    return {at, icon->size()};
  }
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
      QObject::connect(icon_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
        if (!onMouse) return;
        const bool byClick = activatesOnClick();
        if (reason == QSystemTrayIcon::DoubleClick) onMouse(Mouse::DoubleClick);
        else if (reason == QSystemTrayIcon::Trigger) onMouse(byClick ? Mouse::Activate : Mouse::Click);
        else if (reason == QSystemTrayIcon::MiddleClick && byClick) onMouse(Mouse::Activate);
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
  std::unique_ptr<TrayBalloon> balloon_;
  std::optional<TrayIconData> pendingBalloon_;
  int balloonTries_ = 0;
  QObject balloonTimerOwner_;  // its timers end with the area
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
  } else if (m == NotifyArea::Mouse::Activate && OnActivate) {
    OnActivate();
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
