#include "pluginspage.h"

#include "xmbart.h"

#include "shell/controls.h"
#include "shell/folderguard.h"
#include "shell/imgbtn.h"
#include "shell/platform.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStyle>

using namespace kivo::stick;
using kivo::helpText;
using kivo::label;
using kivo::linkLabel;
using kivo::PressLook;

namespace {

const QString kNotFound = QStringLiteral("Plugin directory not found!");
const QString kError = QStringLiteral("There was an error, sorry!");
const QString kGameError = QStringLiteral("There was an error , sorry!");
const QString kListNames[] = {QStringLiteral("VSH"), QStringLiteral("GAME"), QStringLiteral("POPS")};

// Lists are 8-bit text: say so before saving rather than write "?" for what does not fit.
void refuseUnstorable(const QString& text, const QString& what) {
  const QString unstorable = unstorableCharacters(text);
  if (unstorable.isEmpty()) return;
  throw kivo::Failure(QStringLiteral("%1 holds characters that a plug-in list cannot store: \"%2\". Plug-in lists "
                                     "are 8-bit text; please remove them. Nothing was changed.")
                          .arg(what, unstorable));
}

const QString kArrowHint = QStringLiteral("Select a plugin from the left and click this arrow to install it.");

QPlainTextEdit* listEdit(QWidget* parent, const char* name, QRect place) {
  auto* t = new QPlainTextEdit(QStringLiteral("Please select your PSP folder."), parent);
  t->setObjectName(QLatin1String(name));
  t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  t->setLineWrapMode(QPlainTextEdit::NoWrap);
  t->setGeometry(place);
  t->setEnabled(false);
  return t;
}

QCheckBox* target(QWidget* parent, const char* name, const QString& text, int x, int y) {
  auto* c = new QCheckBox(text, parent);
  c->setObjectName(QLatin1String(name));
  c->move(x, y);
  c->adjustSize();
  c->setEnabled(false);
  return c;
}

// The drive box offers the volumes mounted when it opens, so a PSP plugged in later is listed.
// Mount points are long where drive letters were short: the list opens as wide as its longest
// entry, and the box and each entry show the whole path on hover.
class DriveBox : public QComboBox {
public:
  explicit DriveBox(QWidget* parent) : QComboBox(parent) {
    connect(model(), &QAbstractItemModel::rowsInserted, this, &DriveBox::fitList);
    connect(model(), &QAbstractItemModel::modelReset, this, &DriveBox::fitList);
    connect(this, &QComboBox::editTextChanged, this, [this](const QString& text) { setToolTip(text); });
  }
  void showPopup() override {
    const QStringList volumes = kivo::mountedVolumes();
    QStringList shown;
    for (int i = 0; i < count(); ++i) shown << itemText(i);
    if (volumes != shown) {
      const QString text = currentText();
      const QSignalBlocker quiet(this);
      clear();
      addItems(volumes);
      setCurrentIndex(-1);
      setEditText(text);
    }
    fitList();
    QComboBox::showPopup();
  }

private:
  void fitList() {
    int widest = 0;
    for (int i = 0; i < count(); ++i) {
      setItemData(i, itemText(i), Qt::ToolTipRole);
      widest = std::max(widest, view()->fontMetrics().horizontalAdvance(itemText(i)));
    }
    // Room for the item's own margins and a vertical scroll bar.
    const int margins = 4 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) +
                        style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) + 16;
    view()->setMinimumWidth(widest + margins);
  }
};

TImgBtn* arrow(QWidget* parent, const char* name, int x, int y) {
  auto* b = new TImgBtn(parent);
  b->setObjectName(QLatin1String(name));
  b->setPic(QPixmap::fromImage(arrowArt(ArrowLook::Normal)));
  b->setPicUp(QPixmap::fromImage(arrowArt(ArrowLook::Hover)));
  b->setPicDown(QPixmap::fromImage(arrowArt(ArrowLook::Pressed)));
  b->setToolTip(kArrowHint);
  b->setAccessibleName(kArrowHint);
  b->setCursor(Qt::PointingHandCursor);
  b->setGeometry(x, y, 24, 24);
  return b;
}

}  // namespace

TFrame5::TFrame5(kivo::Services& services, QWidget* parent)
    : kivo::Page(services, parent), title(makeTitle(QStringLiteral("Plugins manager"))),
      intro(helpText(this, "intro",
                     {QStringLiteral("Here you can manage your plugins from your seplugins"),
                      QStringLiteral("(the PRX files) directory. Just add one by opening it and voila, it's "),
                      QStringLiteral("added :) Please remember you still need to enable them through "),
                      QStringLiteral("the recovery menu.")},
                     {8, 34, 470, 70})),
      Label5(label(this, "Label5", QStringLiteral("Select your PSP drive:"), {8, 114})),
      prxdrive(new DriveBox(this)),
      Label8(label(this, "Label8", QStringLiteral("Browse for prx..."), {8, 166})),
      prxname(kivo::edit(this, "prxname", kNoPrxYet, {8, 184, 200, 24}, Label8)),
      Label1(linkLabel(this, "Label1", QStringLiteral("Browse..."), {150, 166}, PressLook::On)),
      Label7(label(this, "Label7", QStringLiteral("Install where?"), {8, 220})),
      radioGame(target(this, "radioGame", QStringLiteral("GAME"), 8, 240)),
      radioVSH(target(this, "radioVSH", QStringLiteral("VSH"), 76, 240)),
      radioPops(target(this, "radioPops", QStringLiteral("POPS"), 136, 240)),
      justcopy(target(this, "justcopy", QStringLiteral("Just copy"), 8, 264)),
      install(linkLabel(this, "install", QStringLiteral("Install!"), {8, 296}, PressLook::On)),
      lerror(label(this, "lerror", {}, {8, 322, 210, 40}, true)),
      Label2(label(this, "Label2", QStringLiteral("Plugins on your memory stick:"), {232, 114})),
      file1(new QListWidget(this)), Label3(label(this, "Label3", QStringLiteral("VSH plugins:"), {500, 6})),
      Label4(label(this, "Label4", QStringLiteral("GAME plugins:"), {500, 160})),
      Label9(label(this, "Label9", QStringLiteral("POPS plugins:"), {500, 314})),
      mvsh(listEdit(this, "mvsh", {500, 24, 277, 128})), mgame(listEdit(this, "mgame", {500, 178, 277, 128})),
      mpops(listEdit(this, "mpops", {500, 332, 277, 128})), vshadd(arrow(this, "vshadd", 470, 76)),
      gameadd(arrow(this, "gameadd", 470, 230)), popsadd(arrow(this, "popsadd", 470, 384)),
      iconRAM(label(this, "iconRAM", {}, {60, 364, 80, 110})),
      open1(services.dialogs, kivo::DialogKind::Open, QStringLiteral("Select your plugin..."),
            QStringLiteral("Plugin files (*.prx)|*.prx")),
      lists_{{ListKind::Vsh, mvsh, {}}, {ListKind::Game, mgame, {}}, {ListKind::Pops, mpops, {}}} {
  setObjectName(QStringLiteral("Frame5"));
  intro->setAccessibleName(QStringLiteral("About the plugins manager"));

  prxdrive->setObjectName(QStringLiteral("prxdrive"));
  prxdrive->setEditable(true);
  prxdrive->setInsertPolicy(QComboBox::NoInsert);
  prxdrive->addItems(kivo::mountedVolumes());
  prxdrive->setCurrentIndex(-1);
  prxdrive->setEditText(QStringLiteral("     --- Click to select ---"));
  prxdrive->setGeometry(8, 132, 200, 24);
  Label5->setBuddy(prxdrive);

  // Nothing to browse for or install before a drive is chosen.
  for (QLabel* l : std::initializer_list<QLabel*>{Label1, install, Label7}) l->setEnabled(false);
  prxname->setEnabled(false);

  QFont bold = install->font();
  bold.setBold(true);
  install->setFont(bold);
  install->adjustSize();

  lerror->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette red = lerror->palette();
  red.setColor(QPalette::WindowText, QColor(200, 0, 0));
  lerror->setPalette(red);

  file1->setObjectName(QStringLiteral("file1"));
  file1->setGeometry(232, 132, 228, 328);
  file1->setEnabled(false);
  Label2->setBuddy(file1);
  Label3->setBuddy(mvsh);
  Label4->setBuddy(mgame);
  Label9->setBuddy(mpops);

  iconRAM->setPixmap(QPixmap::fromImage(memoryStickArt()));

  connect(prxdrive, &QComboBox::currentTextChanged, this, &TFrame5::prxdriveChange);
  connect(Label1, &kivo::ClickLabel::clicked, this, &TFrame5::Label1Click);
  connect(justcopy, &QCheckBox::toggled, this, &TFrame5::justcopyClick);
  connect(install, &kivo::ClickLabel::clicked, this, &TFrame5::installClick);
  connect(vshadd, &TImgBtn::clicked, this, &TFrame5::vshaddClick);
  connect(gameadd, &TImgBtn::clicked, this, &TFrame5::gameaddClick);
  connect(popsadd, &TImgBtn::clicked, this, &TFrame5::popsaddClick);
}

TFrame5::ListBox& TFrame5::listBox(ListKind kind) {
  return lists_[kind == ListKind::Vsh ? 0 : kind == ListKind::Game ? 1 : 2];
}

void TFrame5::loadBox(ListBox& list, const QString& text, const QString& path) {
  list.box->setPlainText(text);
  list.loadedFrom = path;
}

QString TFrame5::listBase(const ListBox& list, const QString& path) const {
  if (list.loadedFrom == path) return list.box->document()->toRawText();
  // The box still shows another drive's list or the placeholder: never write that onto this
  // list; start from the list as it is on the stick, or from nothing when there is none yet.
  if (!QFileInfo::exists(path)) return {};
  const std::optional<QByteArray> bytes = readList(path);
  if (!bytes) throw kivo::Failure(QStringLiteral("Cannot read the plugin list \"%1\".").arg(path));
  return boxTextFromList(*bytes);
}

void TFrame5::checkStorable(const ListBox& list, const QString& path, const QString& prxName) const {
  refuseUnstorable(prxName, QStringLiteral("The plug-in's name \"%1\"").arg(prxName));
  // A list read from the file comes back byte for byte; only what was typed may not fit.
  if (list.loadedFrom == path)
    refuseUnstorable(list.box->document()->toRawText(), QStringLiteral("The %1 list").arg(kListNames[&list - lists_]));
}

bool TFrame5::writeList(const ListBox& list, const QString& path, const QString& prxName, QString* error) {
  return writeListSafely(path, composeList(listBase(list, path), prxName), error);
}

bool TFrame5::reloadBox(ListBox& list, const QString& path) {
  const std::optional<QByteArray> bytes = readList(path);
  if (!bytes) return false;
  loadBox(list, boxTextFromList(*bytes), path);
  return true;
}

void TFrame5::refreshFiles() {
  const std::optional<QStringList> files = listPrxFiles(StickPaths(prxdrive->currentText()).folder);
  if (!files) throw kivo::Failure(kNotFound);
  const QListWidgetItem* selected = file1->currentItem();
  const QString keep = selected ? selected->text() : QString();
  file1->clear();
  file1->addItems(*files);
  const auto again = file1->findItems(keep, Qt::MatchExactly);
  if (!keep.isEmpty() && !again.isEmpty()) file1->setCurrentItem(again.first());
}

void TFrame5::prxdriveChange() {
  handle([&] {
    const QString drive = prxdrive->currentText();
    const StickPaths paths(drive);
    const StickContents found = loadStick(drive);
    if (found.prxFiles) {
      file1->clear();
      file1->addItems(*found.prxFiles);
    }
    if (found.vsh) loadBox(lists_[0], *found.vsh, paths.list(ListKind::Vsh));
    if (found.game) loadBox(lists_[1], *found.game, paths.list(ListKind::Game));
    if (found.pops) loadBox(lists_[2], *found.pops, paths.list(ListKind::Pops));
    if (!found.complete()) {
      lerror->setText(kNotFound);
      return;
    }
    // A typed drive box chooses a drive letter by letter, so the folder is "not found" on the way
    // to it; that word is false once the folder loads. Other errors stay, as they always have.
    if (lerror->text() == kNotFound) lerror->clear();
    // While "Just copy" is ticked the targets stay off, as ticking it left them.
    const bool targets = !justcopy->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{prxname, Label1, Label7, radioVSH, radioPops, radioGame, file1,
                                                      mvsh, mgame, mpops, install, justcopy})
      w->setEnabled(targets || (w != radioVSH && w != radioPops && w != radioGame));
  });
}

void TFrame5::Label1Click() {
  handle([&] {
    kivo::CurrentFolderGuard guard;
    open1.execute();
    prxname->setText(open1.fileName());
  });
}

void TFrame5::justcopyClick() {
  const bool on = justcopy->isChecked();
  for (QCheckBox* box : {radioVSH, radioPops, radioGame}) {
    if (on) box->setChecked(false);
    box->setEnabled(!on);
  }
}

void TFrame5::installClick() {
  handle([&] {
    const bool vsh = radioVSH->isChecked(), game = radioGame->isChecked(), pops = radioPops->isChecked();
    if (!justcopy->isChecked() && !vsh && !game && !pops) return;
    const QString source = prxname->text();
    const QString name = prxFileName(source);
    if (!isRealPrxName(source) || !isRealPrxName(name))
      throw kivo::Failure(QStringLiteral("Please choose the PRX file to install first (Browse...)."));
    if (!kivo::fileExists(source))
      throw kivo::Failure(QStringLiteral("The PRX file \"%1\" was not found; nothing was installed.").arg(source));
    const StickPaths paths(prxdrive->currentText());
    const struct {
      bool ticked;
      ListKind kind;
      const QString& error;
    } targets[] = {{vsh, ListKind::Vsh, kError}, {game, ListKind::Game, kGameError}, {pops, ListKind::Pops, kError}};
    for (const auto& t : targets)
      if (t.ticked) checkStorable(listBox(t.kind), paths.list(t.kind), name);

    if (justcopy->isChecked()) {
      if (!kivo::copyFile(source, paths.installed(name), true)) lerror->setText(kError);
      try {
        refreshFiles();
      } catch (const kivo::Failure&) {
        lerror->setText(kError);
      }
    }
    for (const auto& t : targets) {
      if (!t.ticked) continue;
      bool ok = false;
      try {
        ListBox& list = listBox(t.kind);
        const QString path = paths.list(t.kind);
        ok = writeList(list, path, name) && kivo::copyFile(source, paths.installed(name), true) &&
             reloadBox(list, path);
        if (ok) refreshFiles();
      } catch (const kivo::Failure&) {
        ok = false;
      }
      if (!ok) lerror->setText(t.error);
    }
  });
}

void TFrame5::addSelected(ListKind kind) {
  handle([&] {
    const QList<QListWidgetItem*> selected = file1->selectedItems();
    const QString name = selected.isEmpty() ? QString() : prxFileName(selected.first()->text());
    if (!isRealPrxName(name)) throw kivo::Failure(QStringLiteral("Please select a plugin in the list on the left first."));
    ListBox& list = listBox(kind);
    const QString path = StickPaths(prxdrive->currentText()).list(kind);
    checkStorable(list, path, name);
    QString error;
    if (!writeList(list, path, name, &error))
      throw kivo::Failure(QStringLiteral("Cannot write the plugin list \"%1\". %2").arg(path, error));
    if (!reloadBox(list, path)) throw kivo::Failure(QStringLiteral("Cannot read the plugin list \"%1\".").arg(path));
  });
}

void TFrame5::vshaddClick() { addSelected(ListKind::Vsh); }
void TFrame5::gameaddClick() { addSelected(ListKind::Game); }
void TFrame5::popsaddClick() { addSelected(ListKind::Pops); }
