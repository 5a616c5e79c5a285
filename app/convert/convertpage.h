#pragma once
// The Convert page: UMD image conversion, the PS1 EBOOT maker and EBOOT decompression. The
// work is done by umdjob, ebootmaker and rastlejob; the page binds its controls to them.

#include "shell/clicklabel.h"
#include "shell/filedialog.h"
#include "shell/page.h"
#include "ebootmaker.h"
#include "umdjob.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

class TFrame1 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame1(kivo::Services& services, QWidget* parent = nullptr);

  QLabel* const title;
  QPlainTextEdit* const intro1;

  // UMD images
  QGroupBox* const groupUMD;
  QRadioButton *const isocso, *const csoiso, *const daxiso, *const isodax, *const csodax, *const daxcso;
  // Beside the described six: CHD, which PPSSPP and other emulators read.
  QRadioButton *const isochd, *const chdiso, *const chdcso;
  QLabel* const compLabel;
  QComboBox* const complvlbox;
  QLabel* const inputlabel;
  QLineEdit* const source;
  kivo::ClickLabel* const browse2;
  QLabel* const outputlabel;
  QLineEdit* const destination;
  kivo::ClickLabel* const browse1;
  kivo::ClickLabel* const convert;
  kivo::FileDialog open1, save1;
  // Beside "Convert!": the icon, title and ID of the game in the input image, when it has one.
  QLabel *const umdicon, *const umdgame;

  // PSX images
  QGroupBox* const groupPSX;
  QLabel* const bgline2;
  kivo::ClickLabel* const PIC1;
  QLabel* const shadow;
  kivo::ClickLabel *const ICON0, *const PIC0;
  QLabel* const Label2;
  QLineEdit* const PSXoutput;
  kivo::ClickLabel* const psxbrowse;
  QLabel* const Label3;
  QLineEdit* const psxeboot;
  kivo::ClickLabel* const psxebootbrowse;
  QLabel* const Label4;
  QComboBox* const PSXid1;
  QLineEdit* const PSXid2;
  QLabel* const Label5;
  QLineEdit* const PSXtitle;
  QCheckBox* const psxcompbox;
  QComboBox* const PSXcomplvl;
  kivo::ClickLabel *const icon1, *const snd0;
  kivo::ClickLabel* const psxgo;
  // Beside "Make EBOOT.PBP!": the LibCrypt data that goes along with the disc, or a warning.
  QLabel* const psxlibcrypt;
  kivo::FileDialog openX, openPNG, openICON0, openAT3, openPMF;
  // Beyond the described group: the base EBOOT whose boot code lets the PSP start what psx makes,
  // whether an EBOOT made now will start, and what became of the last one.
  kivo::ClickLabel* const psxbase;
  QLabel *const psxstart, *const psxresult;
  kivo::FileDialog openBase;

  // Decompress PSX eboots
  QGroupBox* const GroupBox1;
  QLabel* const Label1;
  QLineEdit* const rastlepbp;
  kivo::ClickLabel* const rastlebrowse;
  QLabel* const Label6;
  QLineEdit* const rastleiso;
  kivo::ClickLabel* const rastlesaveto;
  kivo::ClickLabel* const rastledo;
  kivo::FileDialog rastleopen, rastlesave;

  /// The radio button that is selected, tested in the order of the conversions.
  kivo::UmdConversion selectedConversion() const;

  // Handlers, named after their control and event.
  void isocsoClick();
  void csoisoClick();
  void daxisoClick();
  void isodaxClick();
  void csodaxClick();
  void daxcsoClick();
  void isochdClick();
  void chdisoClick();
  void chdcsoClick();
  void browse2Click();
  void browse1Click();
  void convertClick();
  void psxbrowseClick();
  void psxebootbrowseClick();
  void psxcompboxClick();
  void ICON0DblClick();
  void PIC0DblClick();
  void PIC1DblClick();
  void icon1DblClick();
  void snd0DblClick();
  void psxgoClick();
  void psxbaseClick();
  /// Says again whether an EBOOT made now starts on a PSP: the base in the tool folder and the level.
  void showPsxStart();
  void rastlebrowseClick();
  void rastlesavetoClick();
  void rastledoClick();

  /// Shows the game the input image holds, or nothing.
  void showUmdGame();
  /// Fills the game ID from the PS1 image's SYSTEM.CNF unless the user typed one, and suggests
  /// the label psx takes when none is typed: the disc's volume name.
  void readPsxImage();
  /// Says what LibCrypt data psx will take along with the disc in PSXoutput, or warns of a disc
  /// known to check LibCrypt that comes without it.
  void showPsxLibCrypt();

protected:
  void showEvent(QShowEvent* event) override;

private:
  QString autoPrefix_, autoNumber_;  // the ID last filled in from an image
  void pickPicture(kivo::FileDialog& dialog, kivo::ClickLabel* preview, kivo::Artwork artwork);
  void pickMedia(kivo::FileDialog& dialog, kivo::Artwork artwork);
};
