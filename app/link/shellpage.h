#pragma once
// The Shell integration page: installs and removes the context-menu command.

#include "shell/page.h"

class TFrame2 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame2(kivo::Services& services, QWidget* parent = nullptr);
};
