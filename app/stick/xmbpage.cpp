#include "xmbpage.h"

TFrame6::TFrame6(kivo::Services& services, QWidget* parent) : kivo::Page(services, parent) {
  setObjectName(QStringLiteral("Frame6"));
}
