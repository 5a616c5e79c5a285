#include "alphablend.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>
#include <algorithm>

namespace kivo {

QEvent::Type enterSizeMoveEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

QEvent::Type exitSizeMoveEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

namespace {

const char* const kWatchName = "kivo_moveLoop";

// Watches the whole application for the end of a move loop, then tells the form and goes.
class MoveLoopWatch : public QObject {
public:
  explicit MoveLoopWatch(QWidget* form) : QObject(form), form_(form) {
    setObjectName(QLatin1String(kWatchName));
    qApp->installEventFilter(this);
  }
  ~MoveLoopWatch() override { qApp->removeEventFilter(this); }

protected:
  bool eventFilter(QObject*, QEvent* event) override {
    bool ended = false;
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonRelease:
      ended = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
      break;
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseMove:
      ended = !(static_cast<QMouseEvent*>(event)->buttons() & Qt::LeftButton);
      break;
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
      // A new press means the previous loop is long over.
      ended = true;
      break;
    default:
      break;
    }
    if (ended && !done_) {
      done_ = true;
      setProperty("ended", true);
      QEvent exit(exitSizeMoveEvent());
      QCoreApplication::sendEvent(form_, &exit);
      deleteLater();
    }
    return false;
  }

private:
  QWidget* form_;
  bool done_ = false;
};

MoveLoopWatch* watchOf(const QWidget* form) {
  for (QObject* child : form->children())
    if (child->objectName() == QLatin1String(kWatchName)) return static_cast<MoveLoopWatch*>(child);
  return nullptr;
}

}  // namespace

void beginMoveLoop(QWidget* form) {
  if (MoveLoopWatch* old = watchOf(form)) delete old;
  QEvent enter(enterSizeMoveEvent());
  QCoreApplication::sendEvent(form, &enter);
  new MoveLoopWatch(form);
}

bool inMoveLoop(const QWidget* form) {
  // A watch that has seen the end waits for deleteLater; it no longer counts.
  for (QObject* child : form->children())
    if (child->objectName() == QLatin1String(kWatchName) && !child->property("ended").toBool()) return true;
  return false;
}

}  // namespace kivo

TAlphaBlendForm::TAlphaBlendForm(QWidget* form) : QObject(form), form_(form) {
  form_->installEventFilter(this);
}

TAlphaBlendForm::~TAlphaBlendForm() {
  if (form_) form_->removeEventFilter(this);
}

void TAlphaBlendForm::setActive(bool on) {
  if (on == active_) return;
  active_ = on;
  blend_ = on;
  if (on) setFormOpacity(moving_ ? sizeMoveValue_ : inactive_ ? deactivateValue_ : 255);
  applyToForm();
}

void TAlphaBlendForm::setDeactivateAllow(bool on) {
  if (on == deactivateAllow_) return;
  deactivateAllow_ = on;
  setFormOpacity(on && inactive_ ? deactivateValue_ : 255);
}

void TAlphaBlendForm::setSizeMoveAllow(bool on) {
  if (on == sizeMoveAllow_) return;
  sizeMoveAllow_ = on;
  setFormOpacity(on && moving_ ? sizeMoveValue_ : 255);
}

void TAlphaBlendForm::setDeactivateValue(int value) {
  value = std::clamp(value, 0, 255);
  if (value == deactivateValue_) return;
  deactivateValue_ = value;
  if (active_ && deactivateAllow_ && inactive_) setFormOpacity(value);
}

void TAlphaBlendForm::setSizeMoveValue(int value) {
  value = std::clamp(value, 0, 255);
  if (value == sizeMoveValue_) return;
  sizeMoveValue_ = value;
  if (active_ && sizeMoveAllow_ && moving_) setFormOpacity(value);
}

void TAlphaBlendForm::message(Message m) {
  if (!active_) return;
  switch (m) {
  case Message::Activate:
    inactive_ = false;
    setFormOpacity(255);
    break;
  case Message::Deactivate:
    inactive_ = true;
    if (deactivateAllow_) setFormOpacity(deactivateValue_);
    break;
  case Message::EnterSizeMove:
    moving_ = true;
    if (sizeMoveAllow_) setFormOpacity(sizeMoveValue_);
    break;
  case Message::ExitSizeMove:
    moving_ = false;
    setFormOpacity(255);
    break;
  }
}

int TAlphaBlendForm::formOpacity() const { return qRound(form_->windowOpacity() * 255.0); }

void TAlphaBlendForm::setFormOpacity(int value) {
  formValue_ = value;
  applyToForm();
}

void TAlphaBlendForm::applyToForm() { form_->setWindowOpacity((blend_ ? formValue_ : 255) / 255.0); }

bool TAlphaBlendForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == form_) {
    const QEvent::Type type = event->type();
    if (type == QEvent::ActivationChange)
      message(form_->isActiveWindow() ? Message::Activate : Message::Deactivate);
    else if (type == kivo::enterSizeMoveEvent())
      message(Message::EnterSizeMove);
    else if (type == kivo::exitSizeMoveEvent())
      message(Message::ExitSizeMove);
  }
  return false;  // the form handles every message as usual
}
