#pragma once
// The Convert page: UMD image conversion, the PS1 EBOOT maker and EBOOT decompression.

#include "shell/page.h"

class TFrame1 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame1(kivo::Services& services, QWidget* parent = nullptr);
};
