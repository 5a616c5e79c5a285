// Themes, translucency, desktop backdrop and tray: the window's floating look.
#include "formMain.h"

void TfrmMain::themeChange() {}
void TfrmMain::gototrayClick() {}
void TfrmMain::tray1DblClick() {}
void TfrmMain::movedTimer() { remembered_ = pos(); }
void TfrmMain::tgui2Timer() {
  show();
  tgui2->stop();
}
