#pragma once
// The About page: what the program is, thanks, the site link and the credits line.

#include "shell/page.h"

class TFrame4 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame4(kivo::Services& services, QWidget* parent = nullptr);
};
