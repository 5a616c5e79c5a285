#pragma once
// The Customize XMB page: the XMB preview and the font and top-menu builders.

#include "shell/page.h"

class TFrame6 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame6(kivo::Services& services, QWidget* parent = nullptr);
};
