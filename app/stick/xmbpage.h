#pragma once
// The Customize XMB page: the XMB preview and the font and top-menu builders.

#include "ttfcomp.h"
#include "xmbpicture.h"

#include "shell/filedialog.h"
#include "shell/page.h"

#include <array>

class QLabel;
class QPlainTextEdit;
class QTimer;
namespace kivo {
class ClickLabel;
}

class TFrame6 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame6(kivo::Services& services, QWidget* parent = nullptr);

  /// The picture of slot 1 to 6, as the top-menu build will write it.
  const kivo::stick::XmbPicture& icon(int slot) const { return icons_.at(slot - 1); }
  const kivo::stick::XmbPicture& wallpaper() const { return wallpaper_; }
  /// The captions' face name: the chosen font's full name, at most 31 characters.
  QString captionFace() const { return captionFace_; }

  QLabel* const title;
  QPlainTextEdit* const intro1;
  QLabel* const Label1;
  QLabel* const bgline;
  kivo::ClickLabel* const xmbBG;
  kivo::ClickLabel *const ico1, *const ico2, *const ico3, *const ico4, *const ico5, *const ico6;
  QLabel *const xmbtext1, *const xmbtext2, *const xmbtext3, *const xmbtext4, *const xmbtext5, *const xmbtext6;
  QLabel* const Label2;
  QPlainTextEdit* const Memo1;
  kivo::ClickLabel* const changefont;
  kivo::ClickLabel* const changebg;
  kivo::ClickLabel* const buildtop;
  kivo::ClickLabel* const buildfont;
  QLabel* const labeldone;
  QLabel* const Labeldone2;
  QLabel* const icongfx;
  QTimer* const Timerfont;
  kivo::FileDialog OpenBG;
  kivo::FileDialog OpenICON;
  kivo::FileDialog OpenFONT;
  kivo::FileDialog saveTopmenu;
  kivo::FileDialog savefont;
  TTtfComp ttf1;

public slots:
  void ico1Click() { icoClick(1); }
  void ico2Click() { icoClick(2); }
  void ico3Click() { icoClick(3); }
  void ico4Click() { icoClick(4); }
  void ico5Click() { icoClick(5); }
  void ico6Click() { icoClick(6); }
  void xmbBGClick();
  void changefontClick();
  void buildtopClick();
  void buildfontClick();
  void TimerfontTimer();

private:
  void icoClick(int slot);
  void showIcon(int slot);

  std::array<kivo::ClickLabel*, 6> slots_;
  std::array<QLabel*, 6> captions_;
  std::array<kivo::stick::XmbPicture, 6> icons_;
  kivo::stick::XmbPicture wallpaper_;
  QString captionFace_ = QStringLiteral("Tahoma");
  QString rememberedFolder_;  ///< the page-wide slot of every dialog handler but the font preview's
  QString fontFolder_;        ///< the font preview's own slot
};
