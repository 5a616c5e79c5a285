#pragma once
// The tool activity view: Kivo's own counterpart of the console windows a tool would open. Each
// started tool shows as a panel with its name, what it reads and writes, its progress, the
// lines it printed and how it ended. The wait dialog shows one such panel while a handler
// waits for its tool.

#include "processrunner.h"
#include "toolactivity.h"

#include <QDialog>
#include <QFrame>
#include <QMargins>
#include <QPointer>
#include <map>

class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;

namespace kivo {

/// One job: name and state, reads and writes, progress with percent, rate and time left (or the
/// time it has been running), its last lines, and what can be done with it.
class JobPanel : public QFrame {
  Q_OBJECT
public:
  JobPanel(ToolActivity& activity, int id, bool withActions, QWidget* parent = nullptr);
  int id() const { return id_; }
  /// Reads the entry again (the elapsed time moves on its own).
  void refresh();
  /// The same a little later: a tool that writes fast is laid out a few times a second, not at
  /// every read.
  void refreshSoon();
  static constexpr int kRefreshMs = 200;

  QLabel* const title;
  QLabel* const state;
  QLabel* const files;
  QProgressBar* const bar;
  QLabel* const detail;
  QLabel* const messages;
  QLabel* const note;  ///< what became of "Show in folder", when it could not be done
  QPushButton* const stop;
  QPushButton* const showFile;
  QPushButton* const dismiss;

signals:
  void showInFolder(const QString& path);

private:
  ToolActivity& activity_;
  const int id_;
  bool withActions_ = false;
  bool refreshDue_ = false;
};

/// The list of jobs, newest first, in a small window of its own beside the main window.
class ActivityView : public QWidget {
  Q_OBJECT
public:
  explicit ActivityView(ToolActivity& activity, QWidget* parent = nullptr);

  JobPanel* panel(int id) const;
  QLabel* const heading;
  QLabel* const banner;  ///< names the job that ended last, when it failed
  QPushButton* const clear;

  /// Shows the view without taking the focus from where the user works, beside the main window.
  void showQuietly();
  /// Says something about a job's result (the file at path) in its panel.
  void noteAbout(const QString& path, const QString& text);

protected:
  bool event(QEvent* event) override;

signals:
  void showInFolder(const QString& path);

private:
  void add(int id);
  void remove(int id);
  void finished(int id);
  void tick();
  void updateBanner();
  void place();
  void adoptFrame();

  ToolActivity& activity_;
  QSize preferred_{440, 250};
  int lastEnded_ = 0;  ///< the job that ended last
  QMargins frameMargins_;             ///< the window manager's frame, once seen
  bool placedWithRealFrame_ = true;
  QScrollArea* const scroll_;
  QWidget* const list_;
  QVBoxLayout* const rows_;
  QLabel* const empty_;
  QTimer* const ticker_;
  std::map<int, JobPanel*> panels_;
};

/// The modal dialog of a run-and-wait job: the job's panel and Cancel. The window behind it
/// goes on painting but takes no input.
class WaitDialog : public QDialog {
  Q_OBJECT
public:
  WaitDialog(ToolActivity& activity, int id, QWidget* parent = nullptr);
  JobPanel* panel() const { return panel_; }
  QPushButton* const cancel;
  /// Shows the next job a handler waits for in the same dialog (the steps of one conversion).
  void follow(int id);

protected:
  void reject() override;  // Escape and the window's close button cancel too

private:
  void requestCancel();
  ToolActivity& activity_;
  int id_;
  JobPanel* panel_ = nullptr;
  QTimer* const ticker_;
};

/// Shows a WaitDialog over the main window for each run-and-wait job. A dialog is taken down
/// once the handler moves on, so the steps of one conversion share it instead of flickering.
class WaitDialogPresenter : public WaitPresenter {
public:
  explicit WaitDialogPresenter(QWidget* owner) : owner_(owner) {}
  ~WaitDialogPresenter() override;
  void show(ToolActivity& activity, int id) override;
  void hide() override;
  WaitDialog* dialog() const { return dialog_; }

private:
  QPointer<QWidget> owner_;
  QPointer<WaitDialog> dialog_;
  bool closing_ = false;
};

/// Where a window of this frame size goes beside the owner (its frame) within the screen's room:
/// a side where it fits whole, else the side with the most room at a smaller size (not below
/// minimum), else over the owner where it hides the least, never its top strip or footer.
QRect placeBeside(const QRect& owner, QSize size, QSize minimum, const QRect& room);

/// "45 %  12.3 MiB/s  0:05 left", or "running for 0:12" for a tool that tells nothing.
QString progressText(const JobEntry& entry, qint64 now);

}  // namespace kivo
