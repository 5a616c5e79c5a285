#pragma once
// The About page: what the program is, thanks, the site link and the credits line.

#include "shell/page.h"

class QLabel;
class QPlainTextEdit;
class QTimer;
namespace kivo {
class ClickLabel;
}

class TFrame4 : public kivo::Page {
  Q_OBJECT
public:
  explicit TFrame4(kivo::Services& services, QWidget* parent = nullptr);

  QLabel* const title;
  QPlainTextEdit* const head;
  QPlainTextEdit* const Memo1;
  kivo::ClickLabel* const sitelink;
  QLabel* const iconFav;
  QLabel* const Label1;  ///< the credits line
  QTimer* const t1;      ///< credits step, 20 ms
  QTimer* const timer15; ///< credits restart, 90 s

  static constexpr int kCreditsStart = 784;

  // Handlers.
  void sitelinkClick();
  void t1Timer();
  void timer15Timer();
};
