#include "homepage.h"

TframeMain::TframeMain(kivo::Services& services, QWidget* parent) : kivo::Page(services, parent) {
  setObjectName(QStringLiteral("frame0"));
}

void TframeMain::FrameEnter() {}
