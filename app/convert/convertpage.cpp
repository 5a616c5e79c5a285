#include "convertpage.h"

#include "artwork.h"
#include "gameidentity.h"
#include "libcryptnote.h"
#include "rastlejob.h"
#include "shell/folderguard.h"
#include "shell/platform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

using kivo::ClickLabel;
using kivo::DialogKind;
using kivo::FileDialog;

namespace {

template <class W, class... Args> W* make(const char* name, QWidget* parent, Args&&... args) {
  auto* w = new W(std::forward<Args>(args)..., parent);
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

QLabel* label(const char* name, const QString& text, QWidget* parent) { return make<QLabel>(name, parent, text); }
ClickLabel* link(const char* name, const QString& text, QWidget* parent) { return make<ClickLabel>(name, parent, text); }
QLineEdit* edit(const char* name, const QString& text, QWidget* parent) { return make<QLineEdit>(name, parent, text); }
QRadioButton* radio(const char* name, const QString& text, QWidget* parent) {
  return make<QRadioButton>(name, parent, text);
}

QComboBox* levelBox(const char* name, QWidget* parent) {
  auto* box = make<QComboBox>(name, parent);
  box->setEditable(true);
  for (int i = 1; i <= 9; ++i) box->addItem(QString::number(i));
  box->setCurrentText(QStringLiteral("9"));
  return box;
}

ClickLabel* picture(const char* name, QWidget* parent, const QImage& image) {
  auto* p = make<ClickLabel>(name, parent, QString());
  p->setScaledContents(true);  // the previews stretch whatever is picked to their size
  p->setPixmap(QPixmap::fromImage(image));
  p->resize(image.size());
  return p;
}

const QString kNoFile = QStringLiteral("<no file selected>");
const QString kLevelText = QStringLiteral("Compression level: (9: best, 1: worst)");

}  // namespace

TFrame1::TFrame1(kivo::Services& services, QWidget* parent)
    : kivo::Page(services, parent), title(makeTitle(QStringLiteral("Convert your images"))),
      intro1(make<QPlainTextEdit>("intro1", this)),
      groupUMD(make<QGroupBox>("groupUMD", this, QStringLiteral(" UMD images "))),
      isocso(radio("isocso", QStringLiteral("ISO to CSO"), groupUMD)),
      csoiso(radio("csoiso", QStringLiteral("CSO to ISO"), groupUMD)),
      daxiso(radio("daxiso", QStringLiteral("DAX to ISO"), groupUMD)),
      isodax(radio("isodax", QStringLiteral("ISO to DAX"), groupUMD)),
      csodax(radio("csodax", QStringLiteral("CSO to DAX"), groupUMD)),
      daxcso(radio("daxcso", QStringLiteral("DAX to CSO"), groupUMD)),
      isochd(radio("isochd", QStringLiteral("ISO to CHD"), groupUMD)),
      chdiso(radio("chdiso", QStringLiteral("CHD to ISO"), groupUMD)),
      chdcso(radio("chdcso", QStringLiteral("CHD to CSO"), groupUMD)),
      compLabel(label("compLabel", kLevelText, groupUMD)), complvlbox(levelBox("complvlbox", groupUMD)),
      inputlabel(label("inputlabel", QStringLiteral("Input file:"), groupUMD)),
      source(edit("source", kNoFile, groupUMD)), browse2(link("browse2", QStringLiteral("Browse..."), groupUMD)),
      outputlabel(label("outputlabel", QStringLiteral("Output file:"), groupUMD)),
      destination(edit("destination", kNoFile, groupUMD)),
      browse1(link("browse1", QStringLiteral("Browse..."), groupUMD)),
      convert(link("convert", QStringLiteral("Convert!"), groupUMD)),
      open1(services.dialogs, DialogKind::Open, QStringLiteral("Open your UMD image..."),
            QStringLiteral("*.ISO|*.ISO|*.CSO|*.CSO|*.DAX|*.DAX|*.CHD|*.CHD")),
      save1(services.dialogs, DialogKind::Save, QStringLiteral("Save your UMD image to..."),
            QStringLiteral("*.CSO|*.CSO|*.ISO|*.ISO|*.DAX|*.DAX|*.CHD|*.CHD")),
      umdicon(make<QLabel>("umdicon", groupUMD)), umdgame(make<QLabel>("umdgame", groupUMD)),
      groupPSX(make<QGroupBox>("groupPSX", this, QStringLiteral(" PSX images "))),
      bgline2(make<QLabel>("bgline2", groupPSX)),
      PIC1(picture("PIC1", groupPSX, kivo::defaultBackground({400, 227}))),
      shadow(make<QLabel>("shadow", groupPSX)),
      ICON0(picture("ICON0", groupPSX, kivo::defaultIcon({120, 67}))),
      PIC0(picture("PIC0", groupPSX, kivo::defaultInformation({257, 149}))),
      Label2(label("Label2", QStringLiteral("ISO file:"), groupPSX)), PSXoutput(edit("PSXoutput", kNoFile, groupPSX)),
      psxbrowse(link("psxbrowse", QStringLiteral("Browse..."), groupPSX)),
      Label3(label("Label3", QStringLiteral("Output directory:"), groupPSX)),
      psxeboot(edit("psxeboot", QStringLiteral("<no folder selected>"), groupPSX)),
      psxebootbrowse(link("psxebootbrowse", QStringLiteral("Browse..."), groupPSX)),
      Label4(label("Label4", QStringLiteral("Game ID:"), groupPSX)), PSXid1(make<QComboBox>("PSXid1", groupPSX)),
      PSXid2(edit("PSXid2", QString(), groupPSX)), Label5(label("Label5", QStringLiteral("Game label:"), groupPSX)),
      PSXtitle(edit("PSXtitle", QString(), groupPSX)), psxcompbox(make<QCheckBox>("psxcompbox", groupPSX, kLevelText)),
      PSXcomplvl(levelBox("PSXcomplvl", groupPSX)), icon1(picture("icon1", groupPSX, kivo::movieSymbol(48))),
      snd0(picture("snd0", groupPSX, kivo::soundSymbol(48))),
      psxgo(link("psxgo", QStringLiteral("Make EBOOT.PBP!"), groupPSX)),
      psxlibcrypt(make<QLabel>("psxlibcrypt", groupPSX)),
      openX(services.dialogs, DialogKind::Open, QStringLiteral("Open PSX image"),
            QStringLiteral("ISO images|*.iso|CUE sheets|*.cue|CloneCD sheets|*.ccd|Playlists of discs|*.m3u|"
                           "CHD images|*.chd"),
            QStringLiteral(".ISO")),
      openPNG(services.dialogs, DialogKind::Open, QStringLiteral("Open a PNG image..."),
              QStringLiteral("PNG images|*.PNG"), QStringLiteral(".PNG")),
      openICON0(services.dialogs, DialogKind::Open, QStringLiteral("Open a PNG image..."),
                QStringLiteral("PNG images|*.PNG"), QStringLiteral(".PNG")),
      openAT3(services.dialogs, DialogKind::Open, QStringLiteral("Open an AT3 sound..."),
              QStringLiteral("AT3 media files|*.AT3")),
      openPMF(services.dialogs, DialogKind::Open, QStringLiteral("Open a PMF movie..."),
              QStringLiteral("PMF movies|*.PMF")),
      psxbase(link("psxbase", QStringLiteral("Base..."), groupPSX)), psxstart(make<QLabel>("psxstart", groupPSX)),
      psxresult(make<QLabel>("psxresult", groupPSX)),
      openBase(services.dialogs, DialogKind::Open, QStringLiteral("Open a PS1 EBOOT you own..."),
               QStringLiteral("PS1 EBOOTs|*.PBP"), QStringLiteral(".PBP")),
      GroupBox1(make<QGroupBox>("GroupBox1", this, QStringLiteral(" Decompress PSX eboots"))),
      Label1(label("Label1", QStringLiteral("EBOOT.PBP:"), GroupBox1)), rastlepbp(edit("rastlepbp", QString(), GroupBox1)),
      rastlebrowse(link("rastlebrowse", QStringLiteral("Browse..."), GroupBox1)),
      Label6(label("Label6", QStringLiteral("Output ISO:"), GroupBox1)), rastleiso(edit("rastleiso", QString(), GroupBox1)),
      rastlesaveto(link("rastlesaveto", QStringLiteral("Browse..."), GroupBox1)),
      rastledo(link("rastledo", QStringLiteral("Make ISO!"), GroupBox1)),
      rastleopen(services.dialogs, DialogKind::Open, QString(), QStringLiteral("Packed PSX images|*.PBP"),
                 QStringLiteral(".PBP")),
      rastlesave(services.dialogs, DialogKind::Save, QString(), QStringLiteral("ISO images|*.ISO"),
                 QStringLiteral(".ISO")) {
  setObjectName(QStringLiteral("Frame1"));
  save1.setShowHidden(true);
  openX.setShowHidden(true);
  rastleopen.setFileName(QStringLiteral("EBOOT.PBP"));

  intro1->setPlainText(QStringLiteral("In this section you can convert any image (images are \n"
                                      "disks in a file) to a format the PSP can read, or just \n"
                                      "compress them to save memory stick space :) "));
  intro1->setReadOnly(true);
  intro1->setFrameShape(QFrame::NoFrame);
  intro1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  intro1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  intro1->setAccessibleName(QStringLiteral("Introduction"));
  QPalette grey = intro1->palette();
  grey.setColor(QPalette::Base, kivo::kPageGrey);
  intro1->setPalette(grey);
  intro1->setGeometry(8, 30, 769, 52);

  // UMD images
  groupUMD->setGeometry(8, 84, 345, 214);
  // Three columns: the described six, then the conversions to and from CHD.
  isocso->setGeometry(12, 22, 106, 20);
  csoiso->setGeometry(12, 44, 106, 20);
  daxiso->setGeometry(12, 66, 106, 20);
  isodax->setGeometry(120, 22, 106, 20);
  csodax->setGeometry(120, 44, 106, 20);
  daxcso->setGeometry(120, 66, 106, 20);
  isochd->setGeometry(228, 22, 110, 20);
  chdiso->setGeometry(228, 44, 110, 20);
  chdcso->setGeometry(228, 66, 110, 20);
  isochd->setToolTip(QStringLiteral("Any UMD image (ISO, CSO, ZSO or DAX) into a CHD, as PPSSPP and other emulators "
                                    "read it"));
  chdiso->setToolTip(QStringLiteral("A CHD of a UMD image back into an ISO image"));
  chdcso->setToolTip(QStringLiteral("A CHD of a UMD image into a CSO, as the PSP reads it"));
  isocso->setChecked(true);
  compLabel->setGeometry(12, 98, 262, 20);
  complvlbox->setGeometry(278, 96, 55, 22);
  compLabel->setBuddy(complvlbox);
  inputlabel->setGeometry(12, 130, 80, 20);
  source->setGeometry(92, 128, 180, 22);
  inputlabel->setBuddy(source);
  browse2->setGeometry(280, 130, 60, 20);
  outputlabel->setGeometry(12, 158, 80, 20);
  destination->setGeometry(92, 156, 180, 22);
  outputlabel->setBuddy(destination);
  browse1->setGeometry(280, 158, 60, 20);
  convert->setGeometry(12, 186, 100, 20);
  umdicon->setGeometry(118, 183, 45, 25);  // ICON0's shape, 144 x 80
  umdicon->setScaledContents(true);
  umdicon->setAccessibleName(QStringLiteral("Game icon (ICON0)"));
  umdgame->setGeometry(168, 186, 172, 20);
  umdgame->setAccessibleName(QStringLiteral("Game in the input image"));
  umdicon->hide();
  umdgame->hide();
  connect(source, &QLineEdit::textChanged, this, &TFrame1::showUmdGame);
  connect(PSXoutput, &QLineEdit::textChanged, this, &TFrame1::readPsxImage);

  // PSX images: the previews stack like the PSP screen, the frame around them.
  groupPSX->setGeometry(361, 84, 416, 388);
  bgline2->setPixmap(QPixmap::fromImage(kivo::previewFrame({402, 229})));
  bgline2->setGeometry(7, 16, 402, 229);
  bgline2->setAttribute(Qt::WA_TransparentForMouseEvents);
  // Places in the group's coordinates: PIC0 and ICON0 lie inside PIC1's area as on the PSP's
  // screen, the information picture under the icon and its shadow.
  PIC1->setGeometry(8, 17, 400, 227);
  PIC0->setGeometry(144, 88, 257, 149);
  PIC0->stackUnder(shadow);
  shadow->setPixmap(QPixmap::fromImage(kivo::iconShadow({144, 91})));
  shadow->setGeometry(8, 75, 144, 91);  // centred on the icon
  shadow->setAttribute(Qt::WA_TransparentForMouseEvents);
  ICON0->setGeometry(20, 87, 120, 67);
  PIC1->setAccessibleName(QStringLiteral("Background picture (PIC1)"));
  ICON0->setAccessibleName(QStringLiteral("Icon (ICON0)"));
  PIC0->setAccessibleName(QStringLiteral("Information picture (PIC0)"));
  for (ClickLabel* p : {PIC1, ICON0, PIC0}) p->setToolTip(p->accessibleName() + QStringLiteral(": double-click to pick"));

  // The movie and sound symbols sit in the screen's free corner, under the icon.
  icon1->setGeometry(20, 17 + 170, 48, 48);
  icon1->setAccessibleName(QStringLiteral("Icon movie (ICON1)"));
  icon1->setToolTip(QStringLiteral("Select ICON1.pmf"));
  snd0->setGeometry(76, 17 + 170, 48, 48);
  snd0->setAccessibleName(QStringLiteral("Sound (SND0)"));
  snd0->setToolTip(QStringLiteral("Select SND0.at3"));

  const int row = 252;
  Label2->setGeometry(10, row + 2, 110, 20);
  PSXoutput->setGeometry(126, row, 214, 22);
  Label2->setBuddy(PSXoutput);
  psxbrowse->setGeometry(348, row + 2, 60, 20);
  Label3->setGeometry(10, row + 28, 112, 20);
  psxeboot->setGeometry(126, row + 26, 214, 22);
  Label3->setBuddy(psxeboot);
  psxebootbrowse->setGeometry(348, row + 28, 60, 20);
  Label4->setGeometry(10, row + 54, 62, 20);
  PSXid1->setEditable(true);
  PSXid1->addItems({QStringLiteral("SCUS"), QStringLiteral("SCES"), QStringLiteral("SLES"), QStringLiteral("SLPS"),
                    QStringLiteral("SLPM"), QStringLiteral("PBPX"), QStringLiteral("SLED"), QStringLiteral("SCED"),
                    QStringLiteral("SCPS")});
  PSXid1->setCurrentText(QStringLiteral("SCUS"));
  PSXid1->setGeometry(74, row + 52, 68, 22);
  Label4->setBuddy(PSXid1);
  PSXid2->setGeometry(144, row + 52, 62, 22);
  PSXid2->setAccessibleName(QStringLiteral("Game ID number"));
  Label5->setGeometry(214, row + 54, 80, 20);
  PSXtitle->setGeometry(294, row + 52, 114, 22);
  Label5->setBuddy(PSXtitle);
  psxcompbox->setChecked(true);
  psxcompbox->setGeometry(10, row + 80, 272, 20);
  PSXcomplvl->setGeometry(286, row + 78, 54, 22);
  PSXcomplvl->setAccessibleName(QStringLiteral("Compression level"));
  psxgo->setGeometry(10, row + 108, 140, 20);
  psxbase->setGeometry(348, row + 80, 60, 20);
  psxbase->setAccessibleName(QStringLiteral("Base EBOOT (BASE.PBP)"));
  psxbase->setToolTip(QStringLiteral("Pick a PS1 EBOOT you own: its boot code lets the PSP start the EBOOTs made "
                                     "here. It is kept in the tool folder as BASE.PBP."));
  psxstart->setGeometry(156, row + 100, 252, 16);
  psxresult->setGeometry(156, row + 117, 252, 16);
  psxresult->setAccessibleName(QStringLiteral("Last EBOOT made"));
  showPsxStart();
  // Under "Make EBOOT.PBP!", beside the lines above: the disc's LibCrypt data, in short.
  psxgo->move(10, row + 98);
  psxlibcrypt->setGeometry(10, row + 117, 142, 16);
  psxlibcrypt->setAccessibleName(QStringLiteral("LibCrypt data"));
  psxlibcrypt->hide();
  connect(PSXoutput, &QLineEdit::textChanged, this, &TFrame1::showPsxLibCrypt);

  // Decompress PSX eboots
  GroupBox1->setGeometry(8, 306, 345, 166);
  Label1->setGeometry(12, 30, 88, 20);
  rastlepbp->setGeometry(100, 28, 172, 22);
  Label1->setBuddy(rastlepbp);
  rastlebrowse->setGeometry(280, 30, 60, 20);
  Label6->setGeometry(12, 60, 88, 20);
  rastleiso->setGeometry(100, 58, 172, 22);
  Label6->setBuddy(rastleiso);
  rastlesaveto->setGeometry(280, 60, 60, 20);
  rastledo->setGeometry(12, 92, 100, 20);

  // The link labels: page blue, the press look, and their handlers.
  const std::initializer_list<std::pair<ClickLabel*, void (TFrame1::*)()>> links{
      {convert, &TFrame1::convertClick},         {browse1, &TFrame1::browse1Click},
      {browse2, &TFrame1::browse2Click},         {psxbrowse, &TFrame1::psxbrowseClick},
      {psxebootbrowse, &TFrame1::psxebootbrowseClick}, {psxgo, &TFrame1::psxgoClick},
      {psxbase, &TFrame1::psxbaseClick},
      {rastlebrowse, &TFrame1::rastlebrowseClick}, {rastlesaveto, &TFrame1::rastlesavetoClick},
      {rastledo, &TFrame1::rastledoClick}};
  for (const auto& [l, handler] : links) {
    l->setPressLook(true);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, kivo::kTitleBlue);
    l->setPalette(pal);
    QFont f = l->font();
    f.setUnderline(true);
    if (l == convert || l == psxgo || l == rastledo) f.setBold(true);
    l->setFont(f);
    connect(l, &ClickLabel::clicked, this, handler);
  }

  const std::initializer_list<std::pair<QRadioButton*, void (TFrame1::*)()>> radios{
      {isocso, &TFrame1::isocsoClick}, {csoiso, &TFrame1::csoisoClick}, {daxiso, &TFrame1::daxisoClick},
      {isodax, &TFrame1::isodaxClick}, {csodax, &TFrame1::csodaxClick}, {daxcso, &TFrame1::daxcsoClick},
      {isochd, &TFrame1::isochdClick}, {chdiso, &TFrame1::chdisoClick}, {chdcso, &TFrame1::chdcsoClick}};
  for (const auto& [r, handler] : radios) connect(r, &QRadioButton::clicked, this, handler);

  connect(psxcompbox, &QCheckBox::clicked, this, &TFrame1::psxcompboxClick);
  connect(PSXcomplvl, &QComboBox::currentTextChanged, this, &TFrame1::showPsxStart);
  connect(ICON0, &ClickLabel::doubleClicked, this, &TFrame1::ICON0DblClick);
  connect(PIC0, &ClickLabel::doubleClicked, this, &TFrame1::PIC0DblClick);
  connect(PIC1, &ClickLabel::doubleClicked, this, &TFrame1::PIC1DblClick);
  connect(icon1, &ClickLabel::doubleClicked, this, &TFrame1::icon1DblClick);
  connect(snd0, &ClickLabel::doubleClicked, this, &TFrame1::snd0DblClick);
}

kivo::UmdConversion TFrame1::selectedConversion() const {
  using C = kivo::UmdConversion;
  if (isocso->isChecked()) return C::IsoToCso;
  if (isodax->isChecked()) return C::IsoToDax;
  if (csoiso->isChecked()) return C::CsoToIso;
  if (csodax->isChecked()) return C::CsoToDax;
  if (daxiso->isChecked()) return C::DaxToIso;
  if (daxcso->isChecked()) return C::DaxToCso;
  if (isochd->isChecked()) return C::IsoToChd;
  if (chdiso->isChecked()) return C::ChdToIso;
  return C::ChdToCso;
}

void TFrame1::isocsoClick() { complvlbox->setEnabled(true); }
void TFrame1::isodaxClick() { complvlbox->setEnabled(true); }
void TFrame1::csodaxClick() { complvlbox->setEnabled(true); }
void TFrame1::daxcsoClick() { complvlbox->setEnabled(true); }
void TFrame1::csoisoClick() { complvlbox->setEnabled(false); }
void TFrame1::daxisoClick() { complvlbox->setEnabled(false); }
void TFrame1::isochdClick() { complvlbox->setEnabled(true); }
void TFrame1::chdcsoClick() { complvlbox->setEnabled(true); }
void TFrame1::chdisoClick() { complvlbox->setEnabled(false); }

void TFrame1::browse2Click() {
  handle([&] {
    kivo::CurrentFolderGuard back;
    open1.execute();
    source->setText(open1.fileName());
    save1.execute();
    destination->setText(save1.fileName());
  });
}

void TFrame1::browse1Click() {
  handle([&] {
    kivo::CurrentFolderGuard back;
    save1.execute();
    destination->setText(save1.fileName());
  });
}

void TFrame1::convertClick() {
  handle([&] {
    const kivo::GameIdentity game = kivo::identifyGame(source->text());
    kivo::runUmdConversion(services().runner, selectedConversion(), source->text(), destination->text(),
                           complvlbox->currentText(), kivo::gameName(game.title, game.id));
  });
}

void TFrame1::showUmdGame() {
  const kivo::GameIdentity game = kivo::identifyGame(source->text());
  // A long title gives way; the ID stays whole.
  const QFontMetrics metrics = umdgame->fontMetrics();
  const QString id = kivo::gameName({}, game.id);
  const int room = umdgame->width() - metrics.horizontalAdvance(QLatin1Char(' ') + id);
  umdgame->setText(kivo::gameName(metrics.elidedText(game.title, Qt::ElideRight, std::max(room, 0)), game.id));
  umdgame->setToolTip(game.details);
  umdgame->setVisible(game.known());
  umdicon->setPixmap(QPixmap::fromImage(game.icon));
  umdicon->setToolTip(game.details);
  umdicon->setVisible(game.known() && !game.icon.isNull());
  source->setToolTip(game.details);
}

void TFrame1::readPsxImage() {
  const kivo::GameIdentity game = kivo::identifyGame(PSXoutput->text());
  PSXtitle->setPlaceholderText(game.volume.isEmpty() ? game.title : game.volume);
  if (game.id.isEmpty() || game.psp) return;
  // An ID the user typed stays; one filled in from an earlier image gives way.
  const bool typed = !PSXid2->text().isEmpty() &&
                     (PSXid2->text() != autoNumber_ || PSXid1->currentText() != autoPrefix_);
  if (typed) return;
  std::tie(autoPrefix_, autoNumber_) = kivo::splitGameId(game.id);
  PSXid1->setCurrentText(autoPrefix_);
  PSXid2->setText(autoNumber_);
}

void TFrame1::psxbrowseClick() {
  handle([&] {
    kivo::CurrentFolderGuard back;
    openX.execute();
    PSXoutput->setText(openX.fileName());
  });
}

void TFrame1::psxebootbrowseClick() {
  handle([&] {
    kivo::CurrentFolderGuard back;
    for (;;) {
      const std::optional<QString> chosen =
          services().dialogs.chooseFolder({QStringLiteral("Select Directory"), kivo::systemDrive()});
      if (!chosen) return;
      kivo::setCurrentFolder(back.saved());  // a typed relative name means the program folder
      const QString folder = kivo::chosenFolderText(*chosen);
      if (!kivo::folderExists(folder)) {
        // A "No" goes back to the chooser, so the user can correct the name.
        if (services().messages.ask(QStringLiteral("Confirm"), kivo::kCreateFolderQuestion, kivo::Buttons::YesNo,
                                    kivo::BoxIcon::Question) != kivo::Answer::Yes)
          continue;
        if (!QDir().mkpath(folder))
          throw kivo::Failure(QStringLiteral("Unable to create directory %1").arg(folder));
      }
      psxeboot->setText(folder);
      return;
    }
  });
}

void TFrame1::psxcompboxClick() {
  const bool on = psxcompbox->isChecked();
  PSXcomplvl->setEnabled(on);
  PSXcomplvl->setCurrentText(on ? QStringLiteral("9") : QStringLiteral("0"));
}

void TFrame1::pickPicture(FileDialog& dialog, ClickLabel* preview, kivo::Artwork artwork) {
  handle([&] {
    const QString program = kivo::currentFolder();
    {
      kivo::CurrentFolderGuard back;
      dialog.execute();
    }
    const QImage image = kivo::loadPicture(dialog.fileName());
    preview->setPixmap(QPixmap::fromImage(image));
    kivo::stageArtwork(program, artwork, QFileInfo(dialog.fileName()).absoluteFilePath());
  });
}

void TFrame1::pickMedia(FileDialog& dialog, kivo::Artwork artwork) {
  handle([&] {
    const QString program = kivo::currentFolder();
    {
      kivo::CurrentFolderGuard back;
      dialog.execute();
    }
    const QString file = dialog.fileName();
    kivo::stageArtwork(program, artwork, file.isEmpty() ? file : QFileInfo(file).absoluteFilePath());
  });
}

void TFrame1::ICON0DblClick() { pickPicture(openICON0, ICON0, kivo::Artwork::Icon0); }
void TFrame1::PIC0DblClick() { pickPicture(openPNG, PIC0, kivo::Artwork::Pic0); }
void TFrame1::PIC1DblClick() {
  pickPicture(openPNG, PIC1, kivo::Artwork::Pic1);
  window()->update();  // the background sits under everything: redraw the window as a whole
}
void TFrame1::icon1DblClick() { pickMedia(openPMF, kivo::Artwork::Icon1); }
void TFrame1::snd0DblClick() { pickMedia(openAT3, kivo::Artwork::Snd0); }

void TFrame1::psxgoClick() {
  handle([&] {
    const QString result = kivo::makeEboot(services().runner, {PSXtitle->text(), PSXid1->currentText(), PSXid2->text(),
                                                               PSXcomplvl->currentText(), PSXoutput->text(),
                                                               psxeboot->text()});
    // Paths are long: the label shows their end, the tooltip all of it.
    psxresult->setText(psxresult->fontMetrics().elidedText(result, Qt::ElideMiddle, psxresult->width()));
    psxresult->setToolTip(result);
    showPsxStart();
  });
}

void TFrame1::psxbaseClick() {
  handle([&] {
    const QString program = kivo::currentFolder();
    {
      kivo::CurrentFolderGuard back;
      if (!openBase.execute()) return;
    }
    kivo::stageBaseEboot(program, QFileInfo(openBase.fileName()).absoluteFilePath());
    showPsxStart();
  });
}

void TFrame1::showPsxStart() {
  const kivo::BaseEboot base = kivo::findBaseEboot(QDir::current().filePath(QStringLiteral("bin")));
  const QString level = PSXcomplvl->currentText();
  psxstart->setText(kivo::startsOnPspText(base, level));
  psxstart->setToolTip(!base.problem.isEmpty() ? base.path + QStringLiteral(": ") + base.problem
                       : base.serves()      ? base.path
                                            : QStringLiteral("Pick a PS1 EBOOT you own with Base..."));
  QPalette pal = psxstart->palette();
  pal.setColor(QPalette::WindowText, base.serves() && level != QLatin1String("0") ? QColor(0, 110, 40) : QColor(170, 30, 30));
  psxstart->setPalette(pal);
}

void TFrame1::showEvent(QShowEvent* event) {
  kivo::Page::showEvent(event);
  showPsxStart();  // the tool folder may have changed while the page was hidden
}

void TFrame1::showPsxLibCrypt() {
  // psx runs in the tool folder: a relative name means a file there.
  const QString text = PSXoutput->text().trimmed();
  const QString tools = QDir(kivo::currentFolder()).filePath(QStringLiteral("bin"));
  const QString path = text.isEmpty() ? QString() : QDir(tools).absoluteFilePath(text);
  const kivo::LibCryptNote note = path.isEmpty() ? kivo::LibCryptNote{} : kivo::libCryptNote(path);
  psxlibcrypt->setText(psxlibcrypt->fontMetrics().elidedText(note.text, Qt::ElideRight, psxlibcrypt->width()));
  psxlibcrypt->setToolTip(note.details);
  psxlibcrypt->setAccessibleDescription(note.details);
  QPalette pal = psxlibcrypt->palette();
  pal.setColor(QPalette::WindowText, note.warning ? QColor(170, 30, 30) : QColor(0, 110, 40));
  psxlibcrypt->setPalette(pal);
  psxlibcrypt->setVisible(!note.text.isEmpty());
}

void TFrame1::rastlebrowseClick() {
  handle([&] {
    kivo::CurrentFolderGuard back;
    rastleopen.execute();
    rastlepbp->setText(rastleopen.fileName());
  });
}

void TFrame1::rastlesavetoClick() {
  handle([&] {
    kivo::CurrentFolderGuard back;
    rastlesave.execute();
    rastleiso->setText(rastlesave.fileName());
  });
}

void TFrame1::rastledoClick() {
  handle([&] { kivo::startRastle(services().runner, rastleiso->text(), rastlepbp->text()); });
}
