#pragma once
// TCoolTrayIcon: an icon in the desktop's notification area with a tooltip and balloon
// messages, and the ways to hide the owner window there and bring it back.

#include "simpletimer.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QMenu;
class QWidget;

/// What the notification area is told about the icon.
struct TrayIconData {
  QIcon icon;
  QString tip;        ///< at most 127 characters
  bool withBalloon = false;
  QString info;       ///< balloon text, at most 255 characters
  QString infoTitle;  ///< balloon title, at most 63 characters
  int timeoutMs = 0;
  int infoFlags = 0;  ///< balloon icon: 0 none, 1 information, 2 warning, 3 error
};

/// The desktop's notification area. The real one is QSystemTrayIcon; tests record the calls.
class NotifyArea {
public:
  /// Activate: the tray's own way of opening an application, where it has no double click (a
  /// StatusNotifierItem tray: a click, or a middle click for the secondary activation).
  enum class Mouse { Click, DoubleClick, Context, Activate };
  virtual ~NotifyArea() = default;
  virtual bool available() const = 0;
  /// True once the icon is shown in a tray that activates with a single click and has no double
  /// click (StatusNotifierItem); false for the classic tray (XEmbed), where a double click works.
  virtual bool activatesOnClick() const { return false; }
  virtual void add(const TrayIconData& data) = 0;
  virtual void modify(const TrayIconData& data) = 0;
  virtual void remove() = 0;
  virtual void setMenu(QMenu*) {}
  std::function<void(Mouse)> onMouse;
  /// The notification area appeared again (the panel that holds it was restarted).
  std::function<void()> onRecreated;
  /// The notification area went away.
  std::function<void()> onLost;
};

class TCoolTrayIcon : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool IconVisible READ iconVisible WRITE setIconVisible)
  Q_PROPERTY(bool Enabled MEMBER Enabled)
  Q_PROPERTY(bool ShowHint READ showHint WRITE setShowHint)
  Q_PROPERTY(QString Hint READ hint WRITE setHint)
  Q_PROPERTY(bool MinimizeToTray MEMBER MinimizeToTray)
  Q_PROPERTY(bool CycleIcons READ cycleIcons WRITE setCycleIcons)
  Q_PROPERTY(int CycleInterval READ cycleInterval WRITE setCycleInterval)
  Q_PROPERTY(int IconIndex READ iconIndex WRITE setIconIndex)
  Q_PROPERTY(bool WantEnterExitEvents MEMBER WantEnterExitEvents)
public:
  enum BalloonIcon { bitNone = 0, bitInfo = 1, bitWarning = 2, bitError = 3 };

  /// Watches its owner window; without an area it uses the desktop's (QSystemTrayIcon).
  explicit TCoolTrayIcon(QWidget* owner, std::unique_ptr<NotifyArea> area = {});
  ~TCoolTrayIcon() override;

  bool available() const { return area_->available(); }

  bool iconVisible() const { return iconVisible_; }
  /// true adds the icon to the notification area, false removes it; a failure is not reported.
  void setIconVisible(bool on);
  QIcon icon() const { return data_.icon; }
  void setIcon(const QIcon& icon);
  bool showHint() const { return showHint_; }
  void setShowHint(bool on);
  QString hint() const { return hint_; }
  void setHint(const QString& text);
  bool cycleIcons() const { return cycleIcons_; }
  void setCycleIcons(bool on);
  int cycleInterval() const { return cycleTimer_.interval(); }
  void setCycleInterval(int ms);
  int iconIndex() const { return iconIndex_; }
  void setIconIndex(int index);
  void setIconList(const QList<QIcon>& icons);
  void setPopupMenu(QMenu* menu) { area_->setMenu(menu); }
  /// See NotifyArea::activatesOnClick().
  bool activatesOnClick() const { return area_->activatesOnClick(); }

  /// Shows the icon's current data again.
  void Refresh();
  /// Takes down a balloon that is showing, then shows this one.
  void ShowBalloonHint(const QString& title, const QString& text, BalloonIcon icon, int timeoutSeconds);

  void HideMainForm();
  /// Without a separate taskbar window here, an unmapped window has no taskbar entry.
  void HideTaskBarIcon();
  void ShowMainForm();

  /// What the notification area was last told (tooltip and balloon already cut).
  const TrayIconData& data() const { return data_; }

  bool Enabled = true;
  bool MinimizeToTray = false;
  bool WantEnterExitEvents = false;  // the platform reports no pointer moves over tray icons
  std::function<void()> OnClick;
  std::function<void()> OnDblClick;
  /// The tray's single activation where it has no double click (see NotifyArea::Mouse).
  std::function<void()> OnActivate;
  /// The notification area has been gone for lostGraceMs while the icon was shown.
  std::function<void()> OnAreaLost;
  int lostGraceMs = 5000;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void mouse(NotifyArea::Mouse m);
  void updateTip();
  void cycle();

  QPointer<QWidget> owner_;
  std::unique_ptr<NotifyArea> area_;
  TrayIconData data_;
  bool iconVisible_ = false;
  bool showHint_ = true;
  QString hint_;
  bool cycleIcons_ = false;
  int iconIndex_ = 0;
  QList<QIcon> iconList_;
  TSimpleTimer clickTimer_;
  TSimpleTimer cycleTimer_;
  TSimpleTimer lostTimer_;
};
