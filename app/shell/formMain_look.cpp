// Themes, translucency, desktop backdrop and tray: the window's floating look.
#include "formMain.h"

#include "failure.h"
#include "imgbtn.h"
#include "tranpanel.h"

#include <QComboBox>
#include <QMenu>
#include <QPainter>
#include <QPaintEvent>

using kivo::look::Slot;

TAlphaBlendForm* TfrmMain::makeAlpha1() {
  // The colour key needs a window that can be see-through, and X11 decides that only when the
  // window is created.
  setAttribute(Qt::WA_TranslucentBackground);
  auto* alpha = new TAlphaBlendForm(this);
  alpha->setObjectName(QStringLiteral("alpha1"));
  alpha->setSizeMoveValue(200);
  alpha->setDeactivateValue(200);
  alpha->setActive(true);
  return alpha;
}

TCoolTrayIcon* TfrmMain::makeTray1() {
  // The icon is the window's, given once the window has it (the constructor's body).
  auto* tray = new TCoolTrayIcon(this);
  tray->setObjectName(QStringLiteral("tray1"));
  tray->setIconIndex(0);
  tray->setCycleInterval(0);
  tray->OnDblClick = [this] { tray1DblClick(); };
  // A StatusNotifierItem tray has no double click: its click, and the icon's menu, bring the
  // window back.
  tray->OnActivate = [this] {
    if (tray1->iconVisible()) tray1DblClick();
  };
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("trayMenu"));
  QAction* restore = menu->addAction(QStringLiteral("Restore"));
  restore->setObjectName(QStringLiteral("trayRestore"));
  connect(restore, &QAction::triggered, this, [this] {
    if (tray1->iconVisible()) tray1DblClick();
  });
  QAction* quit = menu->addAction(QStringLiteral("Quit"));
  quit->setObjectName(QStringLiteral("trayQuit"));
  connect(quit, &QAction::triggered, this, &QWidget::close);
  tray->setPopupMenu(menu);
  // The icon is the only way back from the tray: if the notification area goes for good, so
  // does the tray state.
  tray->OnAreaLost = [this] {
    if (tray1->iconVisible()) tray1DblClick();
  };
  return tray;
}

tScreenGrab* TfrmMain::makeGrab() {
  auto* g = new tScreenGrab(this);
  g->setObjectName(QStringLiteral("grab"));
  return g;
}

void TfrmMain::applyBackground() {
  // An unpainted background keeps what was last drawn there: the old colour.
  const bool clear = background_.seeThrough();
  QPalette pal = palette();
  pal.setColor(QPalette::Window, clear ? QColor(Qt::transparent) : background_.colour);
  setPalette(pal);
  setAutoFillBackground(!clear);
  update();
}

void TfrmMain::paintEvent(QPaintEvent* event) {
  // The window can be see-through from its creation (for the colour key), so Qt leaves its
  // background to us: paint it, except where the colour key makes it see-through.
  if (background_.seeThrough()) return;
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(event->rect(), background_.colour);
}

void TfrmMain::themeChange() {
  kivo::guarded(services_.messages, [&] {
    PanelBtns->resize(PanelBtns->width(), 17);
    alpha1->setActive(true);
    const std::optional<kivo::look::Theme> chosen = kivo::look::findTheme(theme->currentText());
    if (!chosen) return;

    for (const kivo::look::PictureLoad& load : chosen->loads) {
      const QPixmap picture = kivo::look::loadThemePicture(load.path);
      switch (load.slot) {
      case Slot::FrameLeft: FrameLeft->setPixmap(picture); break;
      case Slot::FrameRight: FrameRight->setPixmap(picture); break;
      case Slot::FrameBottom: FrameBottom->setPixmap(picture); break;
      case Slot::FrameTop: FrameTop->setPixmap(picture); break;
      case Slot::MinPic: btnMin->setPic(picture); break;
      case Slot::MinShown: btnMin->setDisplayed(picture); break;
      case Slot::MinUp: btnMin->setPicUp(picture); break;
      case Slot::MinDown: btnMin->setPicDown(picture); break;
      case Slot::ClosePic: btnClose->setPic(picture); break;
      case Slot::CloseShown: btnClose->setDisplayed(picture); break;
      case Slot::CloseUp: btnClose->setPicUp(picture); break;
      case Slot::CloseDown: btnClose->setPicDown(picture); break;
      case Slot::MaxPic: btnMax->setPixmap(picture); break;
      }
    }

    const kivo::look::ThemeSettings& s = chosen->settings;
    QPalette title = FrameTitle->palette();
    title.setColor(QPalette::WindowText, s.titleColour);
    FrameTitle->setPalette(title);
    background_.painted = s.paintBackground;
    if (s.backgroundColour) background_.colour = *s.backgroundColour;
    background_.colourKey = s.colourKey;
    applyBackground();
    if (s.buttonPanelHeight) PanelBtns->resize(PanelBtns->width(), *s.buttonPanelHeight);
    // The button panel paints no background of its own, so a clear brush changes nothing.
    alpha1->setActive(s.translucency);

    // Minimize and restore at once, so the window is drawn anew in its new look.
    const Settle before{true, QDeadlineTimer(1500), pos(), isActiveWindow()};
    settle_.pending = false;
    setWindowState(windowState() | Qt::WindowMinimized);
    setWindowState(windowState() & ~Qt::WindowMinimized);
    if (isVisible()) settle_ = before;
  });
}

void TfrmMain::undoLateMinimize() {
  // A window manager may carry the minimize out after the restore was asked (the restore then
  // finds a window not yet minimized and does nothing): the window would vanish. Restore it once
  // more, where and as it was.
  if (!settle_.pending) return;
  settle_.pending = false;
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  if (pos() != settle_.at) move(settle_.at);
  raise();
  if (settle_.wasActive) activateWindow();
}

void TfrmMain::gototrayClick() {
  // Without a notification area there would be no way back from the tray: minimize instead.
  if (!tray1->available()) {
    showMinimized();
    return;
  }
  showMinimized();
  tray1->HideMainForm();
  tray1->setIconVisible(!tray1->iconVisible());
  tray1->HideTaskBarIcon();
  // The balloon says what brings the window back in the tray in use.
  tray1->ShowBalloonHint(QStringLiteral("Kivo is hidden."),
                         tray1->activatesOnClick()
                             ? QStringLiteral("Kivo Workbench has been minimized to the tray. Click its icon, or "
                                              "choose Restore in the icon's menu, to bring it back.")
                             : QStringLiteral("Kivo Workbench has been minimized to the tray. Double click the "
                                              "icon below to restore.\r"),
                         TCoolTrayIcon::bitInfo, 10);
}

void TfrmMain::tray1DblClick() {
  tray1->ShowMainForm();
  tray1->setIconVisible(!tray1->iconVisible());
}

void TfrmMain::movedTimer() {
  // While the window manager moves the window, hiding it would end the move: look again once
  // the move is over, against the position from before it.
  if (kivo::inMoveLoop(this)) return;
  const QPoint now = pos();
  // A window the user sent to the taskbar or the tray is not brought back by a backdrop.
  const bool away = !isVisible() || (windowState() & Qt::WindowMinimized);
  if (now.x() != remembered_.x() && now.y() != remembered_.y() && !away) {
    captured->move(captured->x(), -now.y());
    captured->move(-now.x(), captured->y());
    hide();
    captured->clear();
    hide();
    tgui2->start();
    grab->GrabScreen();
    captured->setPixmap(grab->TheBMP().copy());
    captured->adjustSize();
    show();
  }
  remembered_ = now;
}

void TfrmMain::tgui2Timer() {
  show();
  tgui2->stop();
}
