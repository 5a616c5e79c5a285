#pragma once
// TfrmMain: the one borderless window with its picture frame, the page menu, the two title
// buttons, the options panel and the page area in which one of the seven pages is shown.

#include "services.h"
#include "songplayer.h"
#include "look/look.h"

#include <QLabel>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>

class TImgBtn;
class TTranPanel;
class QComboBox;
class TframeMain;
class TFrame1;
class TFrame2;
class TFrame3;
class TFrame4;
class TFrame5;
class TFrame6;
namespace kivo {
class ClickLabel;
}

class TfrmMain : public QWidget {
  Q_OBJECT
public:
  /// When the pages other than the start page are built: at once, or just after the window's
  /// first paint, so that nothing but the start page sits on the way to the screen.
  enum class PageBuild { Now, AfterFirstPaint };

  /// Builds the window; the song is opened first and refusing it throws kivo::Failure.
  TfrmMain(kivo::Services& services, kivo::SongPlayer& wmp, const QStringList& arguments,
           QWidget* parent = nullptr, PageBuild build = PageBuild::Now);
  ~TfrmMain() override;

  /// Decodes the window's built-in pictures before the window is made; needs no application
  /// object, so the start does it while the display connects.
  static void decodePicturesAhead();

  /// Page switch: bounds to the page area, show this page and hide the others, song rule.
  void showPage(QWidget* page);
  QWidget* currentPage() const;
  static QRect pageArea() { return {18, 65, 785, 474}; }

  /// Builds the pages that do not exist yet; every page switch makes sure of them first.
  void createPages();

  /// kivo --open FILE (a file manager's "Open"): the Convert page, with a UMD image as the source
  /// of the matching conversion, or a PS1 EBOOT.PBP as the EBOOT to decompress; the result is
  /// proposed beside it. Nothing starts until the user clicks.
  void openForConversion(const QString& file);

  // The pages, in tab order. Once built they live as long as the window.
  TframeMain* frame0 = nullptr;
  TFrame1* Frame1 = nullptr;
  TFrame2* Frame2 = nullptr;
  TFrame3* Frame3 = nullptr;
  TFrame4* Frame4 = nullptr;
  TFrame5* Frame5 = nullptr;
  TFrame6* Frame6 = nullptr;

  // Pictures and labels drawn on the window's own surface, in painting order.
  QLabel* const captured;
  QLabel* const FrameTop;
  QLabel* const FrameBottom;
  QLabel* const FrameTitle;
  QLabel* const titleIcon;
  QLabel* const feeter;
  QLabel* const borderTop;
  QLabel* const FrameLeft;
  QLabel* const FrameRight;

  TTranPanel* const PanelMenu;
  TTranPanel* const PanelBtns;
  TTranPanel* const PanelOptions;
  TImgBtn* const btnMin;
  QLabel* const btnMax;
  TImgBtn* const btnClose;
  kivo::ClickLabel* const options;
  QLabel* const Label3;
  QComboBox* const theme;
  kivo::ClickLabel* const gototray;

  QTimer* const t1;     ///< About song loop, 81000 ms
  QTimer* const tgui2;  ///< re-show after a backdrop capture, 25 ms
  QTimer* const moved;  ///< desktop backdrop, 250 ms

  /// The remembered window position (left, top).
  QPoint remembered() const { return remembered_; }

  // Handlers.
  void FormCreate(const QStringList& arguments);
  void labelHomeClick();
  void labelConvertClick();
  void labelShellClick();
  void LabelLinkClick();
  void prxmanagerClick();
  void LabelXMBClick();
  void Label2Click();
  void frame0Enter();
  void t1Timer();
  void btnMinClick();
  void btnCloseClick();
  void optionsClick();
  void themeChange();
  void gototrayClick();
  void tray1DblClick();
  void movedTimer();
  void tgui2Timer();

  /// True where a left press moves the window: its own pictures and uncovered spots.
  bool isDragSurface(const QPoint& at) const;

signals:
  /// A drag on the window's surface began and ended (the translucency follows these).
  void moveLoopStarted();
  void moveLoopEnded();

protected:
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

  // --- The floating look: themes, translucency, desktop backdrop, tray (formMain_look.cpp) ---
public:
  TAlphaBlendForm* const alpha1 = makeAlpha1();
  TCoolTrayIcon* const tray1 = makeTray1();
  tScreenGrab* const grab = makeGrab();
  /// How the window's background is painted now (colour, unpainted, colour key).
  const kivo::look::WindowBackground& background() const { return background_; }

private:
  void undoLateMinimize();
  /// The minimize-and-restore of a theme change, until the window manager has had its say.
  struct Settle {
    bool pending = false;
    QDeadlineTimer until;
    QPoint at;
    bool wasActive = false;
  } settle_;
  TAlphaBlendForm* makeAlpha1();
  TCoolTrayIcon* makeTray1();
  tScreenGrab* makeGrab();
  void applyBackground();
  kivo::look::WindowBackground background_;

protected:
  // --- end of the look ---

private:
  void buildFrame();
  void buildMenu();
  void buildButtons();
  void buildOptions();
  void onFocusChanged(QWidget* old, QWidget* now);
  template <class Page> Page* createPage(Page*& slot);
  void endMoveLoop();
  void focusFirstControl();

  kivo::Services& services_;
  kivo::SongPlayer& wmp_;
  QPoint remembered_;
  bool centred_ = false;
  bool homeEntryPending_ = false;
  bool activatedOnce_ = false;
  bool pagesPending_ = false;  ///< pages still to build after the first paint
  QPointer<QWidget> lastFocus_;
  bool pressed_ = false;     ///< pressed on the surface, not yet moved
  bool dragging_ = false;
  bool systemMove_ = false;
  QPoint pressAt_;
  QPoint dragOffset_;
};
