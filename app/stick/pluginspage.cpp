#include "pluginspage.h"

#include <QLineEdit>

TFrame5::TFrame5(kivo::Services& services, QWidget* parent) : kivo::Page(services, parent), prxname(new QLineEdit(this)) {
  setObjectName(QStringLiteral("Frame5"));
  prxname->setObjectName(QStringLiteral("prxname"));
}
