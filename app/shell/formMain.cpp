#include "formMain.h"

#include "clicklabel.h"
#include "failure.h"
#include "platform.h"
#include "imgbtn.h"
#include "page.h"
#include "tranpanel.h"

#include "convert/convertpage.h"
#include "info/aboutpage.h"
#include "info/homepage.h"
#include "link/linkpage.h"
#include "link/shellpage.h"
#include "stick/pluginspage.h"
#include "stick/xmbpage.h"

#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QFile>
#include <QFileInfo>
#include <QRadioButton>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

// The built-in pictures live in a static library; make sure the linker keeps them.
static void initArt() { Q_INIT_RESOURCE(art); }

namespace {

QString artPath(const char* name) { return QStringLiteral(":/art/%1.png").arg(QLatin1String(name)); }

// A built-in picture from the program's resources; a plain placeholder if it is missing.
QPixmap builtIn(const char* name, QSize size, QColor fallback) {
  initArt();
  QPixmap pixmap = kivo::builtInPicture(artPath(name));
  if (pixmap.isNull()) {
    pixmap = QPixmap(size);
    pixmap.fill(fallback);
  }
  return pixmap;
}

QLabel* picture(QWidget* parent, const char* name, QRect place, QColor fallback, bool stretch = false) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(name));
  label->setGeometry(place);
  label->setPixmap(builtIn(name, place.size(), fallback));
  label->setScaledContents(stretch);
  // Pictures are part of the window's surface: presses on them drag the window.
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}

}  // namespace

void TfrmMain::decodePicturesAhead() {
  initArt();
  QStringList paths;
  for (const char* name : {"FrameTop", "FrameBottom", "titleIcon", "feeter", "borderTop", "FrameLeft", "FrameRight",
                           "kivo", "btnMin", "btnMinHot", "btnMax", "btnClose", "btnCloseHot"})
    paths << artPath(name);
  paths << QStringLiteral(":/info/bgimage.png");  // the Home page's, the start page
  kivo::decodeBuiltInPictures(paths);
}

TfrmMain::TfrmMain(kivo::Services& services, kivo::SongPlayer& wmp, const QStringList& arguments,
                   QWidget* parent, PageBuild build)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), captured(new QLabel(this)), FrameTop(picture(this, "FrameTop", {18, 7, 785, 28}, QColor(220, 232, 245))),
      FrameBottom(picture(this, "FrameBottom", {18, 607, 785, 8}, QColor(40, 60, 90))),
      FrameTitle(new QLabel(QStringLiteral("Kivo Workbench - by Plovik"), this)),
      titleIcon(picture(this, "titleIcon", {20, 14, 20, 20}, QColor(53, 151, 216), true)),
      feeter(picture(this, "feeter", {18, 539, 785, 68}, QColor(20, 60, 110), true)),
      borderTop(picture(this, "borderTop", {18, 35, 785, 30}, QColor(16, 70, 120))),
      FrameLeft(picture(this, "FrameLeft", {10, 7, 8, 608}, QColor(40, 60, 90))),
      FrameRight(picture(this, "FrameRight", {803, 7, 8, 608}, QColor(40, 60, 90))),
      PanelMenu(new TTranPanel(this)), PanelBtns(new TTranPanel(this)), PanelOptions(new TTranPanel(this)),
      btnMin(new TImgBtn(PanelBtns)), btnMax(new QLabel(PanelBtns)), btnClose(new TImgBtn(PanelBtns)),
      options(new kivo::ClickLabel(QStringLiteral("Options") + QString(52, QLatin1Char(' ')), PanelOptions)),
      Label3(new QLabel(QStringLiteral("Theme:"), PanelOptions)), theme(new QComboBox(PanelOptions)),
      gototray(new kivo::ClickLabel(QStringLiteral("Minimize to tray"), PanelOptions)), t1(new QTimer(this)),
      tgui2(new QTimer(this)), moved(new QTimer(this)), services_(services), wmp_(wmp) {
  // The song is opened while the layout loads; a song that cannot be opened stops the start.
  const QString refused = wmp_.open(kivo::native(QStringLiteral("etc\\snd.mp3")));
  if (!refused.isEmpty()) throw kivo::Failure(refused);
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(kivo::kAppTitle);
  setFixedSize(813, 617);
  move(183, 109);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  // From a pixmap: a QIcon made from a file name would look through the icon engine plugins first.
  setWindowIcon(QIcon(builtIn("kivo", {32, 32}, QColor(53, 151, 216))));
  tray1->setIcon(windowIcon());

  buildFrame();
  buildMenu();
  buildButtons();
  buildOptions();

  // Panels are child windows above the pictures of the window's surface.
  for (QWidget* child : std::initializer_list<QWidget*>{PanelMenu, PanelBtns, PanelOptions}) child->raise();
  if (build == PageBuild::Now) {
    createPages();
  } else {
    // Only the start page now; the others follow the first paint.
    if (arguments.value(0).size() < 4)
      createPage(frame0);
    else
      createPage(Frame5);
    pagesPending_ = true;
  }

  t1->setObjectName(QStringLiteral("t1"));
  t1->setInterval(81000);
  t1->setTimerType(Qt::PreciseTimer);  // the song restarts on the dot, not within 5 %
  connect(t1, &QTimer::timeout, this, &TfrmMain::t1Timer);
  tgui2->setObjectName(QStringLiteral("tgui2"));
  tgui2->setInterval(25);
  connect(tgui2, &QTimer::timeout, this, &TfrmMain::tgui2Timer);
  tgui2->start();
  moved->setObjectName(QStringLiteral("moved"));
  moved->setInterval(250);
  connect(moved, &QTimer::timeout, this, &TfrmMain::movedTimer);

  connect(qApp, &QApplication::focusChanged, this, &TfrmMain::onFocusChanged);
  FormCreate(arguments);
}

TfrmMain::~TfrmMain() {
  // QWidget's own destructor still moves the focus; this part of the window is gone by then.
  disconnect(qApp, &QApplication::focusChanged, this, nullptr);
  wmp_.close();
}

void TfrmMain::buildFrame() {
  captured->setObjectName(QStringLiteral("captured"));
  captured->setAttribute(Qt::WA_TransparentForMouseEvents);
  captured->move(0, 0);
  captured->lower();
  FrameTitle->setObjectName(QStringLiteral("FrameTitle"));
  FrameTitle->setFont(kivo::pixelFont(QStringLiteral("Segoe UI"), 13));
  FrameTitle->move(45, 14);
  FrameTitle->adjustSize();
  FrameTitle->setAttribute(Qt::WA_TransparentForMouseEvents);
  // The emblem keeps its tooltip, so it must see the pointer; presses still reach the window.
  titleIcon->setAttribute(Qt::WA_TransparentForMouseEvents, false);
  titleIcon->setToolTip(QStringLiteral("Double click to minimize to tray"));
}

void TfrmMain::buildMenu() {
  PanelMenu->setObjectName(QStringLiteral("PanelMenu"));
  PanelMenu->setGeometry(16, 40, 785, 25);
  struct Word {
    const char* name;
    const char* text;
    int left;
    void (TfrmMain::*handler)();
  };
  const Word words[] = {
      {"labelHome", "Home", 8, &TfrmMain::labelHomeClick},
      {"labelConvert", "Convert", 56, &TfrmMain::labelConvertClick},
      {"labelShell", "Shell integration", 120, &TfrmMain::labelShellClick},
      {"LabelLink", "PC - PSP link", 240, &TfrmMain::LabelLinkClick},
      {"prxmanager", "Plugins manager", 336, &TfrmMain::prxmanagerClick},
      {"LabelXMB", "Customize XMB", 456, &TfrmMain::LabelXMBClick},
      {"Label2", "About", 738, &TfrmMain::Label2Click},
  };
  for (const Word& w : words) {
    auto* label = new kivo::ClickLabel(QString::fromLatin1(w.text), PanelMenu);
    label->setObjectName(QLatin1String(w.name));
    label->setFont(kivo::pixelFont(QStringLiteral("Verdana"), 13));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(pal);
    label->move(w.left, 1);
    label->adjustSize();
    connect(label, &kivo::ClickLabel::clicked, this, w.handler);
  }
}

void TfrmMain::buildButtons() {
  PanelBtns->setObjectName(QStringLiteral("PanelBtns"));
  PanelBtns->setGeometry(708, 10, 93, 25);
  btnMin->setObjectName(QStringLiteral("btnMin"));
  btnMin->setPic(builtIn("btnMin", {27, 15}, QColor(90, 120, 160)));
  btnMin->setPicDown(btnMin->pic());
  btnMin->setPicUp(builtIn("btnMinHot", {27, 15}, QColor(120, 160, 210)));
  btnMin->setGeometry(0, 0, 27, 15);
  connect(btnMin, &TImgBtn::clicked, this, &TfrmMain::btnMinClick);
  btnMax->setObjectName(QStringLiteral("btnMax"));
  btnMax->setPixmap(builtIn("btnMax", {26, 17}, QColor(90, 120, 160)));
  btnMax->setGeometry(25, 0, 26, 17);
  btnMax->setEnabled(false);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setPic(builtIn("btnClose", {42, 15}, QColor(190, 60, 50)));
  btnClose->setPicDown(btnClose->pic());
  btnClose->setPicUp(builtIn("btnCloseHot", {42, 15}, QColor(230, 80, 60)));
  btnClose->setGeometry(51, 0, 42, 15);
  connect(btnClose, &TImgBtn::clicked, this, &TfrmMain::btnCloseClick);
}

void TfrmMain::buildOptions() {
  PanelOptions->setObjectName(QStringLiteral("PanelOptions"));
  PanelOptions->setGeometry(528, 545, 265, 57);
  const QFont verdana = kivo::pixelFont(QStringLiteral("Verdana"), 13);
  options->setObjectName(QStringLiteral("options"));
  QFont head = verdana;
  head.setBold(true);
  head.setUnderline(true);
  options->setFont(head);
  options->setGeometry(1, 1, 264, QFontMetrics(head).height());
  options->setCursor(Qt::ArrowCursor);
  connect(options, &kivo::ClickLabel::clicked, this, &TfrmMain::optionsClick);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setFont(verdana);
  Label3->move(0, 20);
  Label3->adjustSize();
  theme->setObjectName(QStringLiteral("theme"));
  theme->setEditable(true);
  // Typing goes through letter by letter as typed: no completion, no case correction, no new items.
  theme->setCompleter(nullptr);
  theme->setInsertPolicy(QComboBox::NoInsert);
  theme->setFrame(false);
  theme->setFont(kivo::pixelFont(QStringLiteral("Verdana"), 11));
  theme->addItems({QStringLiteral("Vista Glass"), QStringLiteral("Vista Black"), QStringLiteral("Vista Silver")});
  theme->setCurrentText(QStringLiteral("Vista Glass"));
  theme->setGeometry(54, 18, 100, 19);
  Label3->setBuddy(theme);
  connect(theme, &QComboBox::currentTextChanged, this, &TfrmMain::themeChange);
  gototray->setObjectName(QStringLiteral("gototray"));
  gototray->setFont(verdana);
  gototray->move(1, 38);
  gototray->adjustSize();
  connect(gototray, &kivo::ClickLabel::clicked, this, &TfrmMain::gototrayClick);
}

void TfrmMain::FormCreate(const QStringList& arguments) {
  remembered_ = pos();
  const QString first = arguments.value(0);
  if (first.size() < 4) {
    showPage(frame0);
    homeEntryPending_ = true;
    moved->start();
  } else {
    showPage(Frame5);
    Frame5->prxname->setText(first);
  }
}

template <class Page> Page* TfrmMain::createPage(Page*& slot) {
  if (slot) return slot;
  slot = new Page(services_, this);
  slot->setGeometry(pageArea());
  slot->hide();
  slot->raise();  // above the pictures of the window's surface
  return slot;
}

void TfrmMain::createPages() {
  pagesPending_ = false;
  if (frame0 && Frame1 && Frame2 && Frame3 && Frame4 && Frame5 && Frame6) return;
  createPage(frame0);
  createPage(Frame1);
  createPage(Frame2);
  createPage(Frame3);
  createPage(Frame4);
  createPage(Frame5);
  createPage(Frame6);
  // Clicking into the Home page moves the focus into it, which runs its entry step.
  frame0->setFocusPolicy(Qt::ClickFocus);
  // Tab order: Home first, so the first focus lands in it at start.
  setTabOrder(frame0, Frame1);
  setTabOrder(Frame1, Frame2);
  setTabOrder(Frame2, Frame3);
  setTabOrder(Frame3, Frame4);
  setTabOrder(Frame4, Frame5);
  setTabOrder(Frame5, Frame6);
}

void TfrmMain::showPage(QWidget* page) {
  page->setGeometry(pageArea());
  for (QWidget* p : std::initializer_list<QWidget*>{frame0, Frame1, Frame2, Frame3, Frame4, Frame5, Frame6})
    if (p) p->setVisible(p == page);
  if (page != Frame4) {
    wmp_.stop();
    t1->stop();
  } else {
    if (!t1->isActive()) t1->start();  // a running count is not restarted
    wmp_.play();
  }
}

QWidget* TfrmMain::currentPage() const {
  for (QWidget* p : std::initializer_list<QWidget*>{frame0, Frame1, Frame2, Frame3, Frame4, Frame5, Frame6})
    if (p && p->isVisibleTo(this)) return p;
  return nullptr;
}

void TfrmMain::openForConversion(const QString& file) {
  labelConvertClick();
  const QString path = QFileInfo(file).absoluteFilePath();
  const QString suffix = QFileInfo(path).suffix().toLower();
  const QString given = QFileInfo(path).suffix();
  const QString stem = given.isEmpty() ? path + QLatin1Char('.') : path.left(path.size() - given.size());
  if (suffix == QLatin1String("pbp")) {
    Frame1->rastlepbp->setText(path);
    Frame1->rastleopen.setFileName(path);
    if (Frame1->rastleiso->text().isEmpty()) Frame1->rastleiso->setText(stem + QStringLiteral("iso"));
    Frame1->rastlepbp->setFocus();
    return;
  }
  QRadioButton* conversion = suffix == QLatin1String("cso")   ? Frame1->csoiso
                             : suffix == QLatin1String("dax") ? Frame1->daxiso
                             : suffix == QLatin1String("chd") ? Frame1->chdiso
                                                              : Frame1->isocso;
  conversion->click();
  Frame1->source->setText(path);
  Frame1->open1.setFileName(path);
  Frame1->destination->setText(stem + (conversion == Frame1->isocso ? QStringLiteral("cso") : QStringLiteral("iso")));
  Frame1->source->setFocus();
}

void TfrmMain::labelHomeClick() { showPage(createPage(frame0)); }
void TfrmMain::labelConvertClick() { showPage(createPage(Frame1)); }
void TfrmMain::labelShellClick() { showPage(createPage(Frame2)); }
void TfrmMain::LabelLinkClick() { showPage(createPage(Frame3)); }
void TfrmMain::prxmanagerClick() { showPage(createPage(Frame5)); }
void TfrmMain::LabelXMBClick() { showPage(createPage(Frame6)); }
void TfrmMain::Label2Click() { showPage(createPage(Frame4)); }

void TfrmMain::frame0Enter() {
  createPage(frame0)->FrameEnter();
  showPage(frame0);
}

void TfrmMain::t1Timer() {
  wmp_.stop();
  wmp_.rewind();
  wmp_.play();
}

void TfrmMain::btnMinClick() { showMinimized(); }
void TfrmMain::btnCloseClick() { close(); }
void TfrmMain::optionsClick() { services_.messages.showMessage(QStringLiteral("Yep, it says options! :D")); }

void TfrmMain::onFocusChanged(QWidget*, QWidget* now) {
  // Only moves of the focus inside this window count: leaving the window and coming back
  // (focus to nothing and back to the same control) is no entry.
  if (!now || now->window() != this) return;
  QWidget* const before = lastFocus_;
  lastFocus_ = now;
  const auto inHome = [this](QWidget* w) { return w && frame0 && (w == frame0 || frame0->isAncestorOf(w)); };
  if (inHome(now) && !inHome(before)) {
    homeEntryPending_ = false;  // the first activation's entry has happened this way
    frame0Enter();
  }
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!centred_) {
    centred_ = true;
    if (QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - rect().center());
  }
}

void TfrmMain::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && settle_.pending) {
    if (settle_.until.hasExpired()) settle_.pending = false;
    else if (isMinimized()) QTimer::singleShot(0, this, &TfrmMain::undoLateMinimize);
  }
  // The first activation puts the focus on the first control in the tab order, which begins
  // with the pages. Given now, before Qt picks a control of its own (the theme box).
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !activatedOnce_) {
    activatedOnce_ = true;
    if (!focusWidget()) focusFirstControl();
  }
  // After a normal start the first activation runs the Home page's entry step once.
  // Let the focus settle first: if it moved into the Home page, that has run the step already.
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && homeEntryPending_) {
    QTimer::singleShot(0, this, [this] {
      if (!homeEntryPending_) return;
      homeEntryPending_ = false;
      if (currentPage() == frame0) frame0Enter();
    });
  }
}

void TfrmMain::focusFirstControl() {
  for (QWidget* page : std::initializer_list<QWidget*>{frame0, Frame1, Frame2, Frame3, Frame4, Frame5, Frame6}) {
    if (!page || !page->isVisibleTo(this)) continue;
    for (QWidget* w = page->nextInFocusChain(); w != page && page->isAncestorOf(w); w = w->nextInFocusChain()) {
      if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(this) && w->isEnabled()) {
        w->setFocus(Qt::ActiveWindowFocusReason);
        return;
      }
    }
  }
}

bool TfrmMain::isDragSurface(const QPoint& at) const {
  // Pictures of the surface let the mouse through (childAt skips them), so anything found
  // here is a page, a panel or one of their controls, which never drag the window.
  QWidget* const hit = childAt(at);
  return hit == nullptr || hit == titleIcon;
}

void TfrmMain::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isDragSurface(event->position().toPoint())) {
    QWidget::mousePressEvent(event);
    return;
  }
  event->accept();
  emit moveLoopStarted();
  kivo::beginMoveLoop(this);  // the translucency follows the move loop
  // The move itself waits until the pointer moves with the button held: a window manager asked
  // to move the window after the button already came up (a touchpad tap) would leave the window
  // following the pointer.
  pressed_ = true;
  pressAt_ = event->globalPosition().toPoint();
  dragOffset_ = pressAt_ - pos();
}

void TfrmMain::mouseMoveEvent(QMouseEvent* event) {
  const bool held = event->buttons() & Qt::LeftButton;
  // The window manager has given the pointer back (motion that still has the button down may
  // come in before its grab takes hold).
  if (systemMove_ && !held) endMoveLoop();
  if (pressed_ && !held) endMoveLoop();  // the release went elsewhere
  if (pressed_ && held &&
      (event->globalPosition().toPoint() - pressAt_).manhattanLength() >= QApplication::startDragDistance()) {
    pressed_ = false;
    // The window manager moves the window as by a title bar; where it cannot (no window
    // manager, offscreen), follow the pointer ourselves until the button comes up.
    if (windowHandle() && windowHandle()->startSystemMove())
      systemMove_ = true;
    else
      dragging_ = true;
  }
  if (dragging_ && held) {
    move(event->globalPosition().toPoint() - dragOffset_);
    event->accept();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void TfrmMain::mouseReleaseEvent(QMouseEvent* event) {
  if ((pressed_ || dragging_ || systemMove_) && event->button() == Qt::LeftButton) {
    event->accept();
    endMoveLoop();
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

void TfrmMain::endMoveLoop() {
  if (!pressed_ && !dragging_ && !systemMove_) return;
  pressed_ = dragging_ = systemMove_ = false;
  emit moveLoopEnded();
}

// No maximize style and no system menu: a double click on the surface does nothing.
void TfrmMain::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

bool TfrmMain::event(QEvent* event) {
  // After a system move the window manager hands the pointer back with an enter event. (The
  // type is tested first: child events arrive while the members are still being built.)
  const QEvent::Type type = event->type();
  if (type == QEvent::Paint && pagesPending_) {
    pagesPending_ = false;
    QTimer::singleShot(0, this, &TfrmMain::createPages);
  }
  if ((type == QEvent::Enter || type == QEvent::WindowActivate || type == QEvent::NonClientAreaMouseButtonRelease) &&
      systemMove_)
    endMoveLoop();
  return QWidget::event(event);
}
