#pragma once
// The Home page: greeting, changelog and the author's version and chat pages.

#include "shell/page.h"

class TframeMain : public kivo::Page {
  Q_OBJECT
public:
  explicit TframeMain(kivo::Services& services, QWidget* parent = nullptr);

  /// The page's entry step: loads the version and chat pages into the two web views.
  void FrameEnter();
};
