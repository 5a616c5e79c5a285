#include "convertpage.h"

TFrame1::TFrame1(kivo::Services& services, QWidget* parent) : kivo::Page(services, parent) {
  setObjectName(QStringLiteral("Frame1"));
}
