#include "aboutpage.h"

TFrame4::TFrame4(kivo::Services& services, QWidget* parent) : kivo::Page(services, parent) {
  setObjectName(QStringLiteral("Frame4"));
}
