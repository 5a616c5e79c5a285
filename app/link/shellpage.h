#pragma once
// The Shell integration page: installs and removes the context-menu command.

#include "shell/page.h"

class QGroupBox;
class QLabel;
class QPlainTextEdit;
namespace kivo {
class ClickLabel;
}

class TFrame2 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame2(kivo::Services& services, QWidget* parent = nullptr);

  QLabel* title;
  QLabel* winlogo;
  QPlainTextEdit* Memo1;
  QGroupBox* GroupBox1;
  QLabel* isocontext;
  QPlainTextEdit* Memo2;
  kivo::ClickLabel* continst;
  QLabel* Label1;
  kivo::ClickLabel* contunin;
  QLabel* Label2;

public slots:
  void continstClick();
  void contuninClick();
};
