#pragma once
// The changelog panel: a read-only memo of 497 x 402; placed smaller, the panel itself scrolls.

#include <QScrollArea>

class QPlainTextEdit;

class Tchangelog : public QScrollArea {
  Q_OBJECT
public:
  explicit Tchangelog(QWidget* parent = nullptr);

  QPlainTextEdit* const Memo1;
};
