#pragma once
// The Plugins manager page: the memory stick's plug-in folder and its three lists.

#include "pluginlist.h"

#include "shell/filedialog.h"
#include "shell/page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class TImgBtn;
namespace kivo {
class ClickLabel;
}

class TFrame5 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame5(kivo::Services& services, QWidget* parent = nullptr);

  QLabel* const title;
  QPlainTextEdit* const intro;
  QLabel* const Label5;
  QComboBox* const prxdrive;
  QLabel* const Label8;
  QLineEdit* const prxname;  ///< the PRX to install; Kivo's argument lands here
  kivo::ClickLabel* const Label1;
  QLabel* const Label7;
  QCheckBox* const radioGame;
  QCheckBox* const radioVSH;
  QCheckBox* const radioPops;
  QCheckBox* const justcopy;
  kivo::ClickLabel* const install;
  QLabel* const lerror;
  QLabel* const Label2;
  QListWidget* const file1;
  QLabel* const Label3;
  QLabel* const Label4;
  QLabel* const Label9;
  QPlainTextEdit* const mvsh;
  QPlainTextEdit* const mgame;
  QPlainTextEdit* const mpops;
  TImgBtn* const vshadd;
  TImgBtn* const gameadd;
  TImgBtn* const popsadd;
  QLabel* const iconRAM;
  kivo::FileDialog open1;

public slots:
  void prxdriveChange();
  void Label1Click();
  void justcopyClick();
  void installClick();
  void vshaddClick();
  void gameaddClick();
  void popsaddClick();

private:
  struct ListBox {
    kivo::stick::ListKind kind;
    QPlainTextEdit* box;
    QString loadedFrom;  ///< the list file the box's text was last loaded from
  };
  ListBox& listBox(kivo::stick::ListKind kind);
  void loadBox(ListBox& list, const QString& text, const QString& path);
  /// The text to rewrite a list from: the box when it holds this list, else the file itself.
  QString listBase(const ListBox& list, const QString& path) const;
  /// Throws Failure, before anything is written, when the list or the name holds characters
  /// that an 8-bit list cannot store.
  void checkStorable(const ListBox& list, const QString& path, const QString& prxName) const;
  bool writeList(const ListBox& list, const QString& path, const QString& prxName, QString* error = nullptr);
  bool reloadBox(ListBox& list, const QString& path);
  void addSelected(kivo::stick::ListKind kind);
  void refreshFiles();

  ListBox lists_[3];
};
