#pragma once
// TAlphaBlendForm: lowers its form's opacity while the form is inactive or being moved, and
// keeps it fully opaque otherwise. It sees the form's events before the form does.

#include <QEvent>
#include <QObject>

class QWidget;

namespace kivo {

/// Sent to a form when a move loop starts and when it ends (see beginMoveLoop).
QEvent::Type enterSizeMoveEvent();
QEvent::Type exitSizeMoveEvent();

/// Starts a move loop on the form: sends it enterSizeMoveEvent now and exitSizeMoveEvent once
/// the left button is up again. The window manager takes the pointer while it moves a window,
/// so the release may never reach us: the first pointer event without a button ends it too.
void beginMoveLoop(QWidget* form);
bool inMoveLoop(const QWidget* form);

}  // namespace kivo

class TAlphaBlendForm : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool Active READ active WRITE setActive)
  Q_PROPERTY(bool FormSizeMoveAllowAlphaBlend READ sizeMoveAllow WRITE setSizeMoveAllow)
  Q_PROPERTY(int FormSizeMoveAlphaBlendValue READ sizeMoveValue WRITE setSizeMoveValue)
  Q_PROPERTY(bool FormDeactivateAllowAlphaBlend READ deactivateAllow WRITE setDeactivateAllow)
  Q_PROPERTY(int FormDeactivateAlphaBlendValue READ deactivateValue WRITE setDeactivateValue)
public:
  enum class Message { Activate, Deactivate, EnterSizeMove, ExitSizeMove };

  /// Acts on its owner form, which must be a window.
  explicit TAlphaBlendForm(QWidget* form);
  ~TAlphaBlendForm() override;

  bool active() const { return active_; }
  void setActive(bool on);
  bool sizeMoveAllow() const { return sizeMoveAllow_; }
  void setSizeMoveAllow(bool on);
  int sizeMoveValue() const { return sizeMoveValue_; }
  void setSizeMoveValue(int value);
  bool deactivateAllow() const { return deactivateAllow_; }
  void setDeactivateAllow(bool on);
  int deactivateValue() const { return deactivateValue_; }
  void setDeactivateValue(int value);

  bool moving() const { return moving_; }
  bool inactive() const { return inactive_; }

  /// What the form's activation and move-loop messages do while the component is active.
  void message(Message m);

  /// The form's opacity as the window shows it, 0 to 255; 255 while blending is off.
  int formOpacity() const;
  bool formAlphaBlend() const { return blend_; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void setFormOpacity(int value);
  void applyToForm();

  QWidget* form_;
  bool active_ = false;
  bool sizeMoveAllow_ = true;
  int sizeMoveValue_ = 128;
  bool deactivateAllow_ = true;
  int deactivateValue_ = 192;
  bool moving_ = false;
  bool inactive_ = false;
  // The form's own alpha switch and value; the window shows the value only while it is on.
  bool blend_ = false;
  int formValue_ = 255;
};
