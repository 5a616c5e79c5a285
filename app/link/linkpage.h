#pragma once
// The PC - PSP link page: host programs, keyboard redirectors, registry backup.

#include "shell/page.h"

class TFrame3 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame3(kivo::Services& services, QWidget* parent = nullptr);
};
