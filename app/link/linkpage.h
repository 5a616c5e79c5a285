#pragma once
// The PC - PSP link page: host programs, keyboard redirectors, registry backup.

#include "shell/page.h"

class QGroupBox;
class QLabel;
class QLineEdit;
namespace kivo {
class ClickLabel;
}

class TFrame3 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame3(kivo::Services& services, QWidget* parent = nullptr);

  QLabel* title;
  QLabel* Label9;
  QLabel* globe;

  QGroupBox* groupUSB;
  QLabel* Label1;
  QLineEdit* usbpath;
  QLabel* Label2;
  kivo::ClickLabel* usbStart;
  QLabel* Image2;

  QGroupBox* GroupBox1;
  QLabel* netlabel;
  QLineEdit* netpath;
  QLabel* Label4;
  QLineEdit* netport;
  QLabel* Label10;
  QLineEdit* netpwd;
  kivo::ClickLabel* netstart;
  QLabel* Image1;

  QGroupBox* GroupBox3;
  QLabel* Label8;
  kivo::ClickLabel* Label7;
  kivo::ClickLabel* keybusb;
  kivo::ClickLabel* keybnet;
  QLabel* Image3;

  QGroupBox* GroupBox2;
  QLabel* Label5;
  QLabel* Label3;
  QLineEdit* drive;
  kivo::ClickLabel* regbackup;
  QLabel* bakdone;
  QLabel* Label6;
  QLineEdit* resdate;
  QLabel* resnobak;
  kivo::ClickLabel* regrestore;
  QLabel* resdone;
  QLabel* imgReg;

public slots:
  void usbStartClick();
  void netstartClick();
  void keybusbClick();
  void keybnetClick();
  void Label7Click();
  void regbackupClick();
  void regrestoreClick();
  void regbackupMouseDown();
  void regbackupMouseUp();
};
