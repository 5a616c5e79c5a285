#include "activityview.h"

#include "controls.h"
#include "page.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace kivo {

namespace {

const QColor kDoneGreen{30, 130, 60};
const QColor kWarningAmber{190, 110, 0};
const QColor kFailedRed{200, 30, 30};
const QColor kQuietGrey{110, 110, 110};

void colour(QWidget* w, const QColor& c) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, c);
  w->setPalette(pal);
}

// Buttons that read like the pages' links, yet take the keyboard focus like any button.
QPushButton* linkButton(const char* name, const QString& text, QWidget* parent) {
  auto* b = named(new QPushButton(text, parent), name);
  b->setFlat(true);
  b->setCursor(Qt::PointingHandCursor);
  b->setStyleSheet(QStringLiteral("QPushButton { color: rgb(53, 151, 216); text-decoration: underline; border: none;"
                                  " padding: 0 2px; }"
                                  "QPushButton:disabled { color: rgb(150, 150, 150); }"));
  return b;
}

// A line that is cut in its middle rather than widening the view: a job reading many files
// would otherwise push its state out of sight. text() keeps the whole line; the tooltip shows it.
class ElidedLabel : public QLabel {
public:
  using QLabel::QLabel;
  QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }
  QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect room = contentsRect();
    painter.drawText(room, int(alignment()), fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width()));
  }
};

QString fileNames(const QStringList& paths) {
  QStringList names;
  for (const QString& p : paths) names << QFileInfo(p).fileName();
  return names.join(QStringLiteral(", "));
}

}  // namespace

QString progressText(const JobEntry& e, qint64 now) {
  const double elapsed = double((e.finished() ? e.endedMs : now) - e.startedMs) / 1000.0;
  const int percent = e.percent();
  if (percent < 0) {
    if (!e.status.isEmpty() && !e.finished())
      return QStringLiteral("%1\nRunning for %2").arg(e.status, describeDuration(elapsed));
    if (e.reportsProgress && e.done > 0)
      return QStringLiteral("%1 so far, running for %2").arg(describeSize(qint64(e.done)), describeDuration(elapsed));
    return QStringLiteral("Running for %1").arg(describeDuration(elapsed));
  }
  QStringList parts{QStringLiteral("%1 %").arg(percent)};
  if (e.rate > 0) parts << describeSize(qint64(e.rate)) + QStringLiteral("/s");
  const double left = e.secondsLeft();
  parts << (left >= 0 ? describeDuration(left) + QStringLiteral(" left") : describeDuration(elapsed));
  return parts.join(QStringLiteral("   "));
}

JobPanel::JobPanel(ToolActivity& activity, int id, bool withActions, QWidget* parent)
    : QFrame(parent), title(named(new QLabel(this), "jobTitle")), state(named(new QLabel(this), "jobState")),
      files(named(new ElidedLabel(this), "jobFiles")), bar(named(new QProgressBar(this), "jobProgress")),
      detail(named(new QLabel(this), "jobDetail")), messages(named(new QLabel(this), "jobMessages")),
      note(named(new QLabel(this), "jobNote")),
      stop(linkButton("jobStop", QStringLiteral("Stop"), this)),
      showFile(linkButton("jobShowFile", QStringLiteral("Show in folder"), this)),
      dismiss(linkButton("jobDismiss", QStringLiteral("Remove"), this)), activity_(activity), id_(id) {
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);

  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  colour(title, kTitleBlue);
  files->setTextFormat(Qt::PlainText);
  colour(files, kQuietGrey);
  detail->setWordWrap(true);  // a host's state names its folder, which may be long
  bar->setTextVisible(false);
  bar->setFixedHeight(10);
  bar->setAccessibleName(QStringLiteral("Progress"));
  messages->setTextFormat(Qt::PlainText);
  messages->setWordWrap(true);
  messages->setFont(pixelFont(QStringLiteral("Lucida Console"), 12));
  messages->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // However long a line, the panel keeps the view's width: its state stays in sight.
  for (QLabel* l : {title, files, detail, messages})
    l->setSizePolicy(QSizePolicy::Ignored, l->sizePolicy().verticalPolicy());

  auto* top = new QHBoxLayout;
  top->addWidget(title, 1);
  top->addWidget(state);
  auto* actions = new QHBoxLayout;
  actions->addWidget(detail, 1);
  actions->addStretch();
  actions->addWidget(stop);
  actions->addWidget(showFile);
  actions->addWidget(dismiss);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(8, 6, 8, 6);
  column->setSpacing(3);
  column->addLayout(top);
  column->addWidget(files);
  column->addWidget(bar);
  column->addLayout(actions);
  column->addWidget(messages);
  column->addWidget(note);
  note->setWordWrap(true);
  note->setTextFormat(Qt::PlainText);
  note->setTextInteractionFlags(Qt::TextSelectableByMouse);
  note->setSizePolicy(QSizePolicy::Ignored, note->sizePolicy().verticalPolicy());
  colour(note, kQuietGrey);
  note->hide();

  if (withActions) {
    connect(stop, &QPushButton::clicked, this, [this] {
      activity_.requestCancel(id_);
      refresh();  // the user's own click shows at once
    });
    connect(showFile, &QPushButton::clicked, this, [this] {
      if (const JobEntry* e = activity_.entry(id_)) emit showInFolder(e->result);
    });
    connect(dismiss, &QPushButton::clicked, this, [this] { activity_.dismiss(id_); });
  } else {
    for (QPushButton* b : {stop, showFile, dismiss}) b->hide();
  }
  withActions_ = withActions;
  refresh();
}

void JobPanel::refreshSoon() {
  if (refreshDue_) return;
  refreshDue_ = true;
  QTimer::singleShot(kRefreshMs, this, [this] {
    refreshDue_ = false;
    refresh();
  });
}

void JobPanel::refresh() {
  const JobEntry* e = activity_.entry(id_);
  if (!e) return;
  title->setText(e->title);
  title->setToolTip(e->commandLine);

  QString stateText;
  QColor stateColour = kTitleBlue;
  switch (e->state) {
  case JobState::Running: stateText = e->cancelRequested ? QStringLiteral("Stopping...") : QStringLiteral("Running"); break;
  case JobState::Succeeded:
    stateText = e->warning.isEmpty() ? QStringLiteral("Done") : QStringLiteral("Warning");
    stateColour = e->warning.isEmpty() ? kDoneGreen : kWarningAmber;
    break;
  case JobState::Failed: stateText = QStringLiteral("Failed"), stateColour = kFailedRed; break;
  case JobState::Cancelled: stateText = QStringLiteral("Cancelled"), stateColour = kQuietGrey; break;
  }
  state->setText(stateText);
  colour(state, stateColour);

  const QString writes = !e->result.isEmpty() ? e->result : e->writes;
  QStringList where;
  if (!e->reads.isEmpty()) where << QStringLiteral("Reads %1").arg(fileNames(e->reads));
  if (!writes.isEmpty()) where << QStringLiteral("writes %1").arg(QFileInfo(writes).fileName());
  if (!where.isEmpty()) where[0][0] = where[0][0].toUpper();
  files->setText(where.join(QStringLiteral(", ")));
  QStringList full;
  for (const QString& r : e->reads) full << QStringLiteral("Reads: ") + r;
  if (!writes.isEmpty()) full << QStringLiteral("Writes: ") + writes;
  files->setToolTip(full.join(QLatin1Char('\n')));
  files->setVisible(!where.isEmpty());

  const int percent = e->percent();
  if (!e->finished() && percent < 0) {
    bar->setRange(0, 0);  // busy: the tool says nothing of how far it is
  } else {
    bar->setRange(0, 100);
    bar->setValue(std::max(percent, 0));
  }
  bar->setVisible(!e->finished() || e->reportsProgress);

  switch (e->state) {
  case JobState::Running: detail->setText(progressText(*e, activity_.now())); break;
  case JobState::Succeeded:
    detail->setText(e->resultSize >= 0 ? QStringLiteral("%1, %2").arg(QFileInfo(e->result).fileName(),
                                                                       describeSize(e->resultSize))
                                       : QStringLiteral("Ended after %1")
                                             .arg(describeDuration(double(e->endedMs - e->startedMs) / 1000.0)));
    break;
  case JobState::Failed:
  case JobState::Cancelled: detail->clear(); break;
  }
  detail->setVisible(!detail->text().isEmpty());

  if (e->state == JobState::Failed || e->state == JobState::Cancelled) {
    messages->setText(e->failure);
    colour(messages, e->state == JobState::Failed ? kFailedRed : kQuietGrey);
  } else if (!e->warning.isEmpty()) {
    messages->setText(e->warning);
    colour(messages, kWarningAmber);
  } else {
    messages->setText(e->lines.mid(std::max<qsizetype>(0, e->lines.size() - 3)).join(QLatin1Char('\n')));
    colour(messages, kQuietGrey);
  }
  messages->setToolTip(e->lines.mid(std::max<qsizetype>(0, e->lines.size() - 40)).join(QLatin1Char('\n')));
  messages->setVisible(!messages->text().isEmpty());

  if (withActions_) {
    stop->setVisible(!e->finished());
    stop->setEnabled(!e->cancelRequested);
    showFile->setVisible(e->state == JobState::Succeeded && !e->result.isEmpty());
    dismiss->setVisible(e->finished());
  }
}

ActivityView::ActivityView(ToolActivity& activity, QWidget* parent)
    : QWidget(parent, Qt::Tool), heading(named(new QLabel(QStringLiteral("Tool activity"), this), "heading")),
      banner(named(new ElidedLabel(this), "banner")), clear(linkButton("clearFinished", QStringLiteral("Clear finished"), this)),
      activity_(activity), scroll_(named(new QScrollArea(this), "jobs")), list_(new QWidget),
      rows_(new QVBoxLayout(list_)),
      empty_(named(new QLabel(QStringLiteral("No tool has been started yet."), list_), "empty")),
      ticker_(new QTimer(this)) {
  setObjectName(QStringLiteral("ToolActivity"));
  setWindowTitle(QStringLiteral("Tool activity"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kPageGrey);
  setPalette(pal);
  setFont(pixelFont(QStringLiteral("Verdana"), 13));
  heading->setFont(pixelFont(QStringLiteral("Verdana"), 16, true));
  colour(heading, kTitleBlue);
  // One line: the failed job's panel below holds the whole message, and a banner that wrapped
  // would grow the view past the room it was given.
  banner->setTextFormat(Qt::PlainText);
  colour(banner, kFailedRed);
  banner->hide();
  colour(empty_, kQuietGrey);

  list_->setAutoFillBackground(false);
  rows_->setContentsMargins(0, 0, 0, 0);
  rows_->setSpacing(6);
  rows_->addWidget(empty_);
  rows_->addStretch(1);
  scroll_->setWidget(list_);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->viewport()->setAutoFillBackground(false);
  scroll_->setAccessibleName(QStringLiteral("Started tools"));
  // The list scrolls: in a view made small to fit beside the window it may be short.
  scroll_->setMinimumSize(0, 60);

  auto* top = new QHBoxLayout;
  top->addWidget(heading, 1);
  top->addWidget(clear);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(10, 8, 10, 10);
  column->addLayout(top);
  column->addWidget(banner);
  column->addWidget(scroll_, 1);
  setMinimumSize(300, 140);
  resize(preferred_);

  connect(clear, &QPushButton::clicked, this, [this] { activity_.dismissFinished(); });
  connect(&activity_, &ToolActivity::added, this, &ActivityView::add);
  connect(&activity_, &ToolActivity::changed, this, [this](int id) {
    if (JobPanel* p = panel(id)) p->refreshSoon();
    if (id == lastEnded_) updateBanner();
  });
  connect(&activity_, &ToolActivity::finished, this, &ActivityView::finished);
  connect(&activity_, &ToolActivity::removed, this, &ActivityView::remove);
  ticker_->setInterval(1000);
  connect(ticker_, &QTimer::timeout, this, &ActivityView::tick);
  for (const JobEntry& e : activity_.entries()) add(e.id);
}

JobPanel* ActivityView::panel(int id) const {
  const auto it = panels_.find(id);
  return it == panels_.end() ? nullptr : it->second;
}

void ActivityView::add(int id) {
  auto* p = new JobPanel(activity_, id, true, list_);
  connect(p, &JobPanel::showInFolder, this, &ActivityView::showInFolder);
  panels_[id] = p;
  rows_->insertWidget(0, p);  // newest on top
  empty_->hide();
  scroll_->ensureVisible(0, 0);
  if (!ticker_->isActive()) ticker_->start();
}

void ActivityView::remove(int id) {
  const auto it = panels_.find(id);
  if (it == panels_.end()) return;
  delete it->second;
  panels_.erase(it);
  empty_->setVisible(panels_.empty());
  updateBanner();
}

void ActivityView::noteAbout(const QString& path, const QString& text) {
  for (const auto& [id, p] : panels_) {
    const JobEntry* e = activity_.entry(id);
    if (!e || e->result != path) continue;
    p->note->setText(text);
    p->note->show();
  }
  showQuietly();
}

void ActivityView::updateBanner() {
  // The banner speaks of the job that ended last, so a later success takes it down.
  const JobEntry* last = activity_.entry(lastEnded_);
  if (last && last->state == JobState::Failed) {
    banner->setText(QStringLiteral("%1 failed: %2").arg(last->title, last->failure));
    banner->setToolTip(banner->text());
    banner->show();
  } else {
    banner->hide();
  }
}

void ActivityView::finished(int id) {
  if (JobPanel* p = panel(id)) p->refresh();
  lastEnded_ = id;
  updateBanner();
  if (activity_.runningCount() == 0) ticker_->stop();
}

void ActivityView::tick() {
  for (const JobEntry& e : activity_.entries())
    if (!e.finished())
      if (JobPanel* p = panel(e.id)) p->refresh();
}

QRect placeBeside(const QRect& owner, QSize size, QSize minimum, const QRect& room) {
  const int gap = 8;
  minimum = minimum.boundedTo(size);
  const auto clampX = [&](int x, int w) { return std::clamp(x, room.left(), std::max(room.left(), room.right() - w + 1)); };
  const auto clampY = [&](int y, int h) { return std::clamp(y, room.top(), std::max(room.top(), room.bottom() - h + 1)); };
  // Right, left, below or above the window: at full size where that fits, else on the side with
  // the most room, made smaller (not below the minimum).
  const int w = std::min(size.width(), room.width()), h = std::min(size.height(), room.height());
  const int rightRoom = room.right() - (owner.right() + gap), leftRoom = owner.left() - gap - room.left();
  const int belowRoom = room.bottom() - (owner.bottom() + gap), aboveRoom = owner.top() - gap - room.top();
  const int rightW = std::min(w, rightRoom), leftW = std::min(w, leftRoom);
  const int belowH = std::min(h, belowRoom), aboveH = std::min(h, aboveRoom);
  const struct {
    QRect at;
    bool fits;
  } sides[] = {
      {QRect(owner.right() + 1 + gap, clampY(owner.top(), h), rightW, h), rightW >= minimum.width() && h >= minimum.height()},
      {QRect(owner.left() - gap - leftW, clampY(owner.top(), h), leftW, h), leftW >= minimum.width() && h >= minimum.height()},
      {QRect(clampX(owner.right() - w + 1, w), owner.bottom() + 1 + gap, w, belowH),
       belowH >= minimum.height() && w >= minimum.width()},
      {QRect(clampX(owner.right() - w + 1, w), owner.top() - gap - aboveH, w, aboveH),
       aboveH >= minimum.height() && w >= minimum.width()},
  };
  for (const auto& side : sides)
    if (side.fits && side.at.size() == size) return side.at;
  const QRect* roomiest = nullptr;
  const auto area = [](const QRect& r) { return r.isEmpty() ? qint64(0) : qint64(r.width()) * r.height(); };
  for (const auto& side : sides)
    if (side.fits && (!roomiest || area(side.at) > area(*roomiest))) roomiest = &side.at;
  if (roomiest) return *roomiest;

  // No side has room: over the window at the smallest size, where it hides the least, and above
  // all not the title strip and menu at the top or the footer with its links and options.
  const QRect top(owner.left(), owner.top(), owner.width(), 65);
  const QRect foot(owner.left(), owner.bottom() - 77, owner.width(), 78);
  const auto cost = [&](const QRect& r) { return area(r & owner) + 8 * (area(r & top) + area(r & foot)); };
  const QSize small = minimum.boundedTo(room.size());
  const QPoint tries[] = {{owner.right() - small.width() + 1, owner.top() + 65},
                          {owner.left(), owner.top() + 65},
                          {owner.right() - small.width() + 1, owner.bottom() - 77 - small.height()},
                          {owner.left(), owner.bottom() - 77 - small.height()},
                          {owner.right() + 1 + gap, owner.top() + 65},
                          {owner.left() - gap - small.width(), owner.top() + 65}};
  QRect best;
  qint64 least = -1;
  for (const QPoint& t : tries) {
    const QRect r(clampX(t.x(), small.width()), clampY(t.y(), small.height()), small.width(), small.height());
    if (least < 0 || cost(r) < least) best = r, least = cost(r);
  }
  return best;
}

void ActivityView::place() {
  const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
  QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
  if (!owner || !screen) return;
  // The window manager's frame counts too: the one this view had when last shown, else a guess,
  // and the view is placed again as soon as its real frame is known.
  const QMargins frame = frameMargins_.isNull() && QGuiApplication::platformName() == QLatin1String("xcb")
                             ? QMargins(4, 28, 4, 4)
                             : frameMargins_;
  const QSize grow(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QSize least = minimumSize().expandedTo(minimumSizeHint());
  const QRect at = placeBeside(owner->frameGeometry(), preferred_ + grow, least + grow, screen->availableGeometry());
  resize(at.size() - grow);
  move(at.topLeft());
}

void ActivityView::showQuietly() {
  if (!isVisible()) {
    placedWithRealFrame_ = !frameMargins_.isNull() || QGuiApplication::platformName() != QLatin1String("xcb");
    place();
    show();
    // The window manager's frame is known a moment after the view is mapped.
    if (!placedWithRealFrame_) QTimer::singleShot(300, this, &ActivityView::adoptFrame);
  }
  raise();
}

void ActivityView::adoptFrame() {
  const QRect outer = frameGeometry(), inner = geometry();
  if (!isVisible() || outer == inner) return;
  frameMargins_ = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                           outer.bottom() - inner.bottom());
  if (placedWithRealFrame_) return;
  placedWithRealFrame_ = true;
  place();
}

bool ActivityView::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && isVisible())
    QTimer::singleShot(0, this, &ActivityView::adoptFrame);
  return handled;
}

WaitDialog::WaitDialog(ToolActivity& activity, int id, QWidget* parent)
    : QDialog(parent), cancel(named(new QPushButton(QStringLiteral("Cancel"), this), "cancel")),
      activity_(activity), id_(id), ticker_(new QTimer(this)) {
  setObjectName(QStringLiteral("WaitDialog"));
  setFont(pixelFont(QStringLiteral("Verdana"), 13));
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kPageGrey);
  setPalette(pal);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel);
  auto* column = new QVBoxLayout(this);
  column->addLayout(buttons);
  setMinimumWidth(440);
  cancel->setDefault(true);
  connect(cancel, &QPushButton::clicked, this, &WaitDialog::requestCancel);
  connect(&activity_, &ToolActivity::changed, this, [this](int which) {
    if (which == id_ && panel_) panel_->refreshSoon();
  });
  ticker_->setInterval(250);
  connect(ticker_, &QTimer::timeout, this, [this] {
    if (panel_) panel_->refresh();
  });
  ticker_->start();
  follow(id);
}

void WaitDialog::follow(int id) {
  id_ = id;
  delete panel_;
  panel_ = new JobPanel(activity_, id, false, this);
  static_cast<QVBoxLayout*>(layout())->insertWidget(0, panel_);
  const JobEntry* e = activity_.entry(id);
  setWindowTitle(e ? e->title : kAppTitle);
  cancel->setEnabled(true);
  cancel->setText(QStringLiteral("Cancel"));
}

void WaitDialog::reject() { requestCancel(); }

void WaitDialog::requestCancel() {
  activity_.requestCancel(id_);
  cancel->setEnabled(false);
  cancel->setText(QStringLiteral("Cancelling..."));
}

WaitDialogPresenter::~WaitDialogPresenter() { delete dialog_.data(); }

void WaitDialogPresenter::show(ToolActivity& activity, int id) {
  closing_ = false;
  if (dialog_) {
    dialog_->follow(id);
    return;
  }
  dialog_ = new WaitDialog(activity, id, owner_ ? owner_->window() : nullptr);
  dialog_->setWindowModality(Qt::ApplicationModal);
  dialog_->show();
}

void WaitDialogPresenter::hide() {
  if (!dialog_) return;
  closing_ = true;
  // Taken down when the handler returns to the event loop, unless it waits for a next step first.
  QTimer::singleShot(0, dialog_, [this] {
    if (closing_) delete dialog_.data();
  });
}

}  // namespace kivo
