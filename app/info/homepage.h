#pragma once
// The Home page: greeting, changelog and the author's version and chat pages.

#include "shell/page.h"

class QLabel;
class QLineEdit;
class QTimer;
class Tchangelog;
namespace kivo::info {
class TWebView;
}

class TframeMain : public kivo::Page {
  Q_OBJECT
public:
  explicit TframeMain(kivo::Services& services, QWidget* parent = nullptr);
  ~TframeMain() override;

  QLabel* const Label1;
  Tchangelog* const changelog1;
  kivo::info::TWebView* const web1; ///< the version page
  kivo::info::TWebView* const web2; ///< the chat page
  QWidget* const loading;
  QLabel* const bgimage;
  QLineEdit* const eggedit; ///< hidden marker of a finished pass through the easter egg
  QTimer* const timeregg;

  static inline const QString kVersionPage = QStringLiteral("/Kivo/v.php?version=100");
  static inline const QString kChatPage = QStringLiteral("/Kivo/chat.htm");

  // Handlers.
  /// The page's entry step: loads the version and chat pages into the two web views.
  void FrameEnter();
  void web1DownloadBegin();
  void web1DownloadComplete();
  void Label1DblClick();
  void timereggTimer();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  int punishing_ = 0;      // nesting of the punishment (it can fire inside its own boxes)
  int editorsStarted_ = 0; // editors started by the current punishment
};
