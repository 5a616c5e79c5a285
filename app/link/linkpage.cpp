#include "linkpage.h"

#include "art.h"
#include "linkcommands.h"
#include "registrybackup.h"
#include "shell/controls.h"
#include "shell/platform.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCompleter>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStringListModel>
#include <functional>

using kivo::edit;
using kivo::art::picture;
using kivo::label;
using kivo::linkLabel;
using kivo::named;

namespace {

QGroupBox* group(QWidget* parent, const char* name, const QString& caption, QRect place) {
  auto* g = named(new QGroupBox(caption, parent), name);
  g->setGeometry(place);
  return g;
}

QLabel* result(QWidget* parent, const char* name, const QString& text, QPoint at) {
  auto* l = label(parent, name, text, QRect(at, QSize(150, 18)));
  l->hide();
  return l;
}

class OnFocus : public QObject {
public:
  OnFocus(QObject* parent, std::function<void()> run) : QObject(parent), run_(std::move(run)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::FocusIn) run_();
    return false;
  }

private:
  std::function<void()> run_;
};

QIcon downArrow(const QPalette& palette) {
  QPixmap pixmap(12, 12);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(palette.color(QPalette::Text));
  painter.drawPolygon(QPolygonF({QPointF(2, 4), QPointF(10, 4), QPointF(6, 9)}));
  return QIcon(pixmap);
}

// The drive box offers the PSP's mounted volumes, as a drive list offers the drive letters: the
// arrow at its end lists them, looked up afresh each time. Typing works as it always did.
void offerVolumes(QLineEdit* edit) {
  auto* model = new QStringListModel(edit);
  auto* completer = new QCompleter(model, edit);
  completer->setCaseSensitivity(Qt::CaseInsensitive);
  completer->popup()->setObjectName(QStringLiteral("driveList"));
  completer->popup()->setAccessibleName(QStringLiteral("Mounted PSP drives"));
  edit->setCompleter(completer);
  QAction* list = edit->addAction(downArrow(edit->palette()), QLineEdit::TrailingPosition);
  list->setObjectName(QStringLiteral("driveListButton"));
  list->setText(QStringLiteral("Mounted PSP drives"));
  list->setToolTip(QStringLiteral("Mounted PSP drives"));
  // The line edit takes a completion only while it has the focus, which a click on the arrow
  // does not give it.
  QObject::connect(completer, qOverload<const QString&>(&QCompleter::activated), edit, &QLineEdit::setText);
  QObject::connect(list, &QAction::triggered, edit, [edit, model, completer] {
    edit->setFocus(Qt::PopupFocusReason);
    model->setStringList(kivo::mountedVolumes(true));
    completer->setCompletionPrefix(QString());
    int widest = edit->width();
    for (const QString& volume : model->stringList())
      widest = std::max(widest, completer->popup()->fontMetrics().horizontalAdvance(volume) + 40);
    completer->complete(QRect(0, 0, widest, edit->height()));
  });
  // Typed text is completed from the volumes found when the box was entered.
  edit->installEventFilter(new OnFocus(edit, [model] { model->setStringList(kivo::mountedVolumes(true)); }));
}

}  // namespace

TFrame3::TFrame3(kivo::Services& services, QWidget* parent) : kivo::Page(services, parent) {
  // A backup killed between its two renames is set right before any set is restored.
  kivo::registry::recoverInterruptedBackups();
  using kivo::art::Picture;
  setObjectName(QStringLiteral("Frame3"));
  title = makeTitle(QStringLiteral("PC - PSP link"));
  Label9 = label(this, "Label9", QStringLiteral("Here you can connect your PSP to your PC through different ways."),
                 {8, 34, 520, 18}, true);

  groupUSB = group(this, "groupUSB", QStringLiteral(" USBhost "), {8, 60, 380, 118});
  Label1 = label(groupUSB, "Label1", QStringLiteral("Virtual path:"), {12, 26, 100, 18});
  usbpath = edit(groupUSB, "usbpath", QStringLiteral("/cygdrive/C/"), {112, 23, 190, 22}, Label1);
  Label2 = label(groupUSB, "Label2", QStringLiteral("eg. /cygdrive/C/PSP/ISO is C:\\PSP\\ISO"), {12, 52, 290, 34}, true);
  usbStart = linkLabel(groupUSB, "usbStart", QStringLiteral("Run!"), {12, 92});
  Image2 = picture(groupUSB, "Image2", Picture::Usb, {312, 24, 56, 56});

  GroupBox1 = group(this, "GroupBox1", QStringLiteral(" NEThost "), {8, 184, 380, 134});
  netlabel = label(GroupBox1, "netlabel", QStringLiteral("Virtual path:"), {12, 26, 100, 18});
  netpath = edit(GroupBox1, "netpath", QStringLiteral("/cygdrive/C/"), {112, 23, 190, 22}, netlabel);
  Label4 = label(GroupBox1, "Label4", QStringLiteral("Port:"), {12, 54, 100, 18});
  netport = edit(GroupBox1, "netport", QStringLiteral("7513"), {112, 51, 70, 22}, Label4);
  Label10 = label(GroupBox1, "Label10", QStringLiteral("Password:"), {12, 82, 100, 18});
  netpwd = edit(GroupBox1, "netpwd", QStringLiteral("6195"), {112, 79, 70, 22}, Label10);
  netstart = linkLabel(GroupBox1, "netstart", QStringLiteral("Run!"), {12, 108});
  Image1 = picture(GroupBox1, "Image1", Picture::Network, {312, 24, 56, 56});

  GroupBox3 = group(this, "GroupBox3", QStringLiteral(" Keyboard redirect "), {8, 324, 380, 142});
  Label8 = label(GroupBox3, "Label8", QStringLiteral("You can control your PSP with your keyboard through IRshell."),
                 {12, 22, 290, 36}, true);
  Label7 = linkLabel(GroupBox3, "Label7", QStringLiteral("Edit controls"), {12, 66});
  keybusb = linkLabel(GroupBox3, "keybusb", QStringLiteral("Run usbhost!"), {12, 90});
  keybnet = linkLabel(GroupBox3, "keybnet", QStringLiteral("Run nethost!"), {12, 114});
  Image3 = picture(GroupBox3, "Image3", Picture::Keyboard, {312, 24, 56, 56});

  GroupBox2 = group(this, "GroupBox2", QStringLiteral(" Registry backup "), {398, 60, 379, 214});
  Label5 = label(GroupBox2, "Label5",
                 QStringLiteral("If your PSP is connected through recovery mode and flash1 is mounted, Kivo can "
                                "backup your registry. Files will be stored in \\registry\\ in your installation dir."),
                 {8, 20, 363, 48}, true);
  Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label3 = label(GroupBox2, "Label3", QStringLiteral("What's your PSP drive letter?"), {8, 68, 230, 18});
  drive = edit(GroupBox2, "drive", QStringLiteral("E:\\"), {240, 66, 80, 20}, Label3);
  offerVolumes(drive);
  regbackup = linkLabel(GroupBox2, "regbackup", QStringLiteral("Backup!"), {8, 88});
  bakdone = result(GroupBox2, "bakdone", QStringLiteral("...done!"), {regbackup->geometry().right() + 10, 88});
  Label6 = label(GroupBox2, "Label6", QStringLiteral("Please enter the date of backup:"), {8, 120, 300, 18});
  resdate = edit(GroupBox2, "resdate", QStringLiteral("d-m-yyyy"), {8, 142, 110, 22}, Label6);
  resdate->setFont(kivo::pixelFont(QStringLiteral("Verdana"), 11));
  resnobak = result(GroupBox2, "resnobak", QStringLiteral("No backup found!"), {128, 145});
  regrestore = linkLabel(GroupBox2, "regrestore", QStringLiteral("Restore!"), {8, 172});
  resdone = result(GroupBox2, "resdone", QStringLiteral("...done!"), {regrestore->geometry().right() + 10, 172});
  imgReg = picture(GroupBox2, "imgReg", Picture::Registry, {311, 150, 56, 56});

  globe = picture(this, "globe", Picture::Globe, {528, 300, 130, 130});

  for (kivo::ClickLabel* l : {usbStart, netstart, keybusb, keybnet, Label7, regrestore}) l->setPressLook(true);
  // "Backup!" has a fixed pressed place rather than the relative press look.
  connect(regbackup, &kivo::ClickLabel::pressed, this, &TFrame3::regbackupMouseDown);
  connect(regbackup, &kivo::ClickLabel::released, this, &TFrame3::regbackupMouseUp);

  connect(usbStart, &kivo::ClickLabel::clicked, this, &TFrame3::usbStartClick);
  connect(netstart, &kivo::ClickLabel::clicked, this, &TFrame3::netstartClick);
  connect(keybusb, &kivo::ClickLabel::clicked, this, &TFrame3::keybusbClick);
  connect(keybnet, &kivo::ClickLabel::clicked, this, &TFrame3::keybnetClick);
  connect(Label7, &kivo::ClickLabel::clicked, this, &TFrame3::Label7Click);
  connect(regbackup, &kivo::ClickLabel::clicked, this, &TFrame3::regbackupClick);
  connect(regrestore, &kivo::ClickLabel::clicked, this, &TFrame3::regrestoreClick);
}

void TFrame3::usbStartClick() {
  handle([&] { services().runner.startAndForget(kivo::link::usbHostCommand(usbpath->text()), kivo::SW_SHOWNORMAL,
                                                 {QStringLiteral("USB host"), {}, {}}); });
}

void TFrame3::netstartClick() {
  handle([&] {
    services().runner.startAndForget(
        kivo::link::netHostCommand(netport->text(), netpwd->text(), netpath->text()), kivo::SW_SHOWNORMAL,
        {QStringLiteral("Network host"), {}, {}});
  });
}

void TFrame3::keybusbClick() {
  handle([&] { services().runner.startAndForget(kivo::link::usbKeyboardCommand(), kivo::SW_SHOWMINIMIZED,
                                                 {QStringLiteral("USB keyboard redirect"), {}, {}}); });
}

void TFrame3::keybnetClick() {
  handle([&] { services().runner.startAndForget(kivo::link::netKeyboardCommand(), kivo::SW_SHOWMINIMIZED,
                                                 {QStringLiteral("Network keyboard redirect"), {}, {}}); });
}

void TFrame3::Label7Click() {
  handle([&] { services().runner.startAndForget(kivo::link::editControlsCommand(), kivo::SW_SHOWNORMAL); });
}

void TFrame3::regbackupClick() {
  handle([&] {
    const QString setName =
        kivo::registry::backupSetName(services().clock.today(), services().clock.locale());
    if (kivo::registry::backup(drive->text(), setName)) bakdone->show();
  });
}

void TFrame3::regrestoreClick() {
  handle([&] {
    using kivo::registry::RestoreResult;
    switch (kivo::registry::restore(kivo::registry::setNameFromTyped(resdate->text()), drive->text())) {
    case RestoreResult::NoBackup:
      resnobak->setText(QStringLiteral("No backup found!"));
      resnobak->show();
      break;
    case RestoreResult::Done: resdone->show(); break;
    case RestoreResult::CopyFailed:
      resnobak->setText(QStringLiteral("Error while copying!"));
      resnobak->show();
      break;
    }
  });
}

void TFrame3::regbackupMouseDown() { regbackup->move(9, 89); }

void TFrame3::regbackupMouseUp() { regbackup->move(8, 88); }
