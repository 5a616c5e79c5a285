#include "xmbpage.h"

#include "xmbart.h"
#include "xmbbuild.h"

#include "shell/controls.h"
#include "shell/platform.h"

#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

using namespace kivo::stick;
using kivo::helpText;
using kivo::label;
using kivo::linkLabel;
using kivo::PressLook;

namespace {

constexpr int kCaptionPx = 11;

// Records the current folder in a page slot and makes it current again however the handler ends.
class RememberFolder {
public:
  explicit RememberFolder(QString& slot) : slot_(slot) { slot_ = QDir::currentPath(); }
  ~RememberFolder() { kivo::setCurrentFolder(slot_); }
  RememberFolder(const RememberFolder&) = delete;
  RememberFolder& operator=(const RememberFolder&) = delete;

private:
  QString& slot_;
};

// Slots sit in one row over the wallpaper, each with its caption underneath.
constexpr int kPreviewX = 9, kPreviewY = 93;
QRect slotPlace(int slot) { return {kPreviewX + 13 + (slot - 1) * 76, kPreviewY + 70, 64, 64}; }

kivo::ClickLabel* slotLabel(QWidget* parent, int slot) {
  auto* l = new kivo::ClickLabel(QString(), parent);
  l->setObjectName(QStringLiteral("ico%1").arg(slot));
  l->setGeometry(slotPlace(slot));
  l->setAlignment(Qt::AlignCenter);
  // The hint exists but is never shown as a tooltip; screen readers still get it.
  l->setAccessibleName(QStringLiteral("Icon %1").arg(slot));
  l->setAccessibleDescription(QStringLiteral("Click to change"));
  return l;
}

QLabel* captionLabel(QWidget* parent, int slot, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QStringLiteral("xmbtext%1").arg(slot));
  const QRect icon = slotPlace(slot);
  l->setGeometry(icon.x() - 8, icon.bottom() + 3, icon.width() + 16, 16);
  l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  l->setFont(kivo::pixelFont(QStringLiteral("Tahoma"), kCaptionPx, true));
  l->setProperty("faceName", QStringLiteral("Tahoma"));
  QPalette pal = l->palette();
  pal.setColor(QPalette::WindowText, Qt::white);
  l->setPalette(pal);
  l->setAttribute(Qt::WA_TransparentForMouseEvents);
  return l;
}

// Bitmaps show their bottom-left pixel's colour as transparent; other formats carry their own alpha.
QPixmap slotPixmap(const XmbPicture& picture) {
  if (picture.format != "bmp") return QPixmap::fromImage(picture.image);
  QImage image = picture.image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = image.pixel(0, image.height() - 1);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if (line[x] == key) line[x] = 0;
  }
  return QPixmap::fromImage(image);
}

}  // namespace

TFrame6::TFrame6(kivo::Services& services, QWidget* parent)
    : kivo::Page(services, parent), title(makeTitle(QStringLiteral("Customize XMB"))),
      intro1(helpText(this, "intro1",
                      {QStringLiteral("There are some cool tweaks for your XMB. You'll find "),
                       QStringLiteral("most of them here :)")},
                      {8, 34, 480, 36})),
      Label1(label(this, "Label1", QStringLiteral("XMB preview:"), {8, 72, 200, 18})),
      bgline(label(this, "bgline", {}, {kPreviewX - 1, kPreviewY - 1, 482, 274})),
      xmbBG(new kivo::ClickLabel(QString(), this)), ico1(slotLabel(this, 1)), ico2(slotLabel(this, 2)),
      ico3(slotLabel(this, 3)), ico4(slotLabel(this, 4)), ico5(slotLabel(this, 5)), ico6(slotLabel(this, 6)),
      xmbtext1(captionLabel(this, 1, QStringLiteral("Settings"))), xmbtext2(captionLabel(this, 2, QStringLiteral("Photo"))),
      xmbtext3(captionLabel(this, 3, QStringLiteral("Music"))), xmbtext4(captionLabel(this, 4, QStringLiteral("Video"))),
      xmbtext5(captionLabel(this, 5, QStringLiteral("Game"))), xmbtext6(captionLabel(this, 6, QStringLiteral("Network"))),
      Label2(label(this, "Label2",
                   QStringLiteral("Custom icons won't work on 3.10OE-A or higher, they will semi-brick your PSP!!"),
                   {8, 374, 482, 40}, true)),
      Memo1(helpText(this, "Memo1",
                     {QStringLiteral("Click on an item to change it."), QString(),
                      QStringLiteral("Please be sure your icons are "), QStringLiteral("256 (8bit) color bitmaps and "),
                      QStringLiteral("they are 64 x 64 pixels!")},
                     {512, 40, 265, 84})),
      changefont(linkLabel(this, "changefont", QStringLiteral("Change font"), {512, 134}, PressLook::On)),
      changebg(linkLabel(this, "changebg", QStringLiteral("Change wallpaper"), {512, 158}, PressLook::On)),
      buildtop(
          linkLabel(this, "buildtop", QStringLiteral("Build topmenu plugin!"), {512, 182}, PressLook::On)),
      buildfont(
          linkLabel(this, "buildfont", QStringLiteral("Build custom font!"), {512, 206}, PressLook::On)),
      labeldone(label(this, "labeldone", {}, {512, 238, 265, 48}, true)),
      Labeldone2(label(this, "Labeldone2", {}, {512, 290, 265, 48}, true)),
      icongfx(label(this, "icongfx", {}, {584, 380, 120, 68})),
      Timerfont(new QTimer(this)), OpenBG(services.dialogs, kivo::DialogKind::Open),
      OpenICON(services.dialogs, kivo::DialogKind::Open, QStringLiteral("Select a 8bit BMP (64x64px)"),
               QStringLiteral("Bitmap images|*.bmp"), QStringLiteral(".bmp")),
      OpenFONT(services.dialogs, kivo::DialogKind::Open, {}, QStringLiteral("TTF fonts|*.ttf"), QStringLiteral(".ttf")),
      saveTopmenu(services.dialogs, kivo::DialogKind::Save, {}, {}, QStringLiteral(".rco")),
      savefont(services.dialogs, kivo::DialogKind::Save),
      slots_{ico1, ico2, ico3, ico4, ico5, ico6}, captions_{xmbtext1, xmbtext2, xmbtext3, xmbtext4, xmbtext5, xmbtext6} {
  setObjectName(QStringLiteral("Frame6"));
  for (QLabel* l : {Label1, Label2}) {
    QFont bold = l->font();
    bold.setBold(true);
    l->setFont(bold);
  }
  intro1->setAccessibleName(QStringLiteral("About this page"));
  Memo1->setAccessibleName(QStringLiteral("Icon requirements"));
  ttf1.InclFontFamilyName = false;

  bgline->setPixmap(QPixmap::fromImage(previewFrame(482, 274)));
  xmbBG->setObjectName(QStringLiteral("xmbBG"));
  xmbBG->setGeometry(kPreviewX, kPreviewY, 480, 272);
  xmbBG->setScaledContents(true);
  xmbBG->setAccessibleName(QStringLiteral("Wallpaper"));
  wallpaper_ = pictureFromBytes(builtInWallpaper(), "bmp");
  xmbBG->setPixmap(QPixmap::fromImage(wallpaper_.image));
  for (int slot = 1; slot <= 6; ++slot) {
    icons_[slot - 1] = pictureFromBytes(builtInIcon(slot), "bmp");
    slots_[slot - 1]->raise();
    captions_[slot - 1]->raise();
    showIcon(slot);
  }

  QPalette red = Label2->palette();
  red.setColor(QPalette::WindowText, QColor(220, 0, 0));
  Label2->setPalette(red);
  for (QLabel* l : {labeldone, Labeldone2}) l->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  icongfx->setPixmap(QPixmap::fromImage(xmbPageArt()));

  saveTopmenu.setFileName(kTopMenuFile);
  savefont.setFileName(QStringLiteral("ltn0.pgf"));
  Timerfont->setObjectName(QStringLiteral("Timerfont"));
  Timerfont->setInterval(1000);

  for (int slot = 1; slot <= 6; ++slot)
    connect(slots_[slot - 1], &kivo::ClickLabel::clicked, this, [this, slot] { icoClick(slot); });
  connect(xmbBG, &kivo::ClickLabel::clicked, this, &TFrame6::xmbBGClick);
  connect(changebg, &kivo::ClickLabel::clicked, this, &TFrame6::xmbBGClick);
  connect(changefont, &kivo::ClickLabel::clicked, this, &TFrame6::changefontClick);
  connect(buildtop, &kivo::ClickLabel::clicked, this, &TFrame6::buildtopClick);
  connect(buildfont, &kivo::ClickLabel::clicked, this, &TFrame6::buildfontClick);
  connect(Timerfont, &QTimer::timeout, this, &TFrame6::TimerfontTimer);
}

void TFrame6::showIcon(int slot) { slots_[slot - 1]->setPixmap(slotPixmap(icons_[slot - 1])); }

void TFrame6::icoClick(int slot) {
  handle([&] {
    RememberFolder remember(rememberedFolder_);
    OpenICON.execute();
    // Slot 4 only ever reloads its bitmap, so it takes bitmap files only.
    icons_[slot - 1] = slot == 4 ? loadBitmap(OpenICON.fileName()) : loadPicture(OpenICON.fileName());
    showIcon(slot);
  });
}

void TFrame6::xmbBGClick() {
  handle([&] {
    RememberFolder remember(rememberedFolder_);
    OpenBG.execute();
    wallpaper_ = loadPicture(OpenBG.fileName());
    xmbBG->setPixmap(QPixmap::fromImage(wallpaper_.image));
  });
}

void TFrame6::changefontClick() {
  handle([&] {
    RememberFolder remember(fontFolder_);
    OpenFONT.execute();
    const std::optional<CaptionFace> face = chooseCaptionFace(OpenFONT.fileName(), ttf1);
    if (!face) return;
    // Qt matches by family and style, not by full name: draw with those, and keep the full
    // name as the face the user chose.
    QFont font(face->family);
    const QFont known = QFontDatabase::font(face->family, face->styleName, kCaptionPx);
    font.setStyleName(face->styleName);
    font.setWeight(known.weight());
    font.setItalic(known.italic());
    font.setStretch(known.stretch());
    font.setPixelSize(kCaptionPx);
    captionFace_ = face->faceName;
    for (QLabel* caption : captions_) {
      caption->setFont(font);
      caption->setProperty("faceName", captionFace_);
    }
  });
}

void TFrame6::buildtopClick() {
  handle([&] {
    RememberFolder remember(rememberedFolder_);
    saveTopmenu.execute();
    kivo::setCurrentFolder(rememberedFolder_);
    QString note;
    labeldone->setText(buildTopMenu(icons_, rememberedFolder_, saveTopmenu.fileName(), services().runner, &note));
    if (!note.isEmpty()) services().messages.showMessage(note);
  });
}

void TFrame6::buildfontClick() {
  handle([&] {
    RememberFolder remember(rememberedFolder_);
    savefont.execute();
    kivo::setCurrentFolder(rememberedFolder_);
    startFontBuild(OpenFONT.fileName(), savefont.fileName(), rememberedFolder_, services().runner);
    if (!Timerfont->isActive()) Timerfont->start();
  });
}

void TFrame6::TimerfontTimer() { Labeldone2->setText(fontResult(savefont.fileName())); }
