#include "linkpage.h"

TFrame3::TFrame3(kivo::Services& services, QWidget* parent) : kivo::Page(services, parent) {
  setObjectName(QStringLiteral("Frame3"));
}
