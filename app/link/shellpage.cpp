#include "shellpage.h"

TFrame2::TFrame2(kivo::Services& services, QWidget* parent) : kivo::Page(services, parent) {
  setObjectName(QStringLiteral("Frame2"));
}
