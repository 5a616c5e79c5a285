#pragma once
// The Plugins manager page: the memory stick's plug-in folder and its three lists.

#include "shell/page.h"

class QLineEdit;

class TFrame5 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame5(kivo::Services& services, QWidget* parent = nullptr);

  QLineEdit* const prxname;  ///< the PRX to install; Kivo's argument lands here
};
