#pragma once
// Handlers throw Failure with the text the user should read; guarded() catches it at the
// handler's boundary and shows the error box, so no exception crosses Qt's own frames.

#include "services.h"

#include <QString>
#include <exception>
#include <string>

namespace kivo {

class Failure : public std::exception {
public:
  explicit Failure(QString text) : text_(std::move(text)), utf8_(text_.toStdString()) {}
  const QString& text() const noexcept { return text_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

private:
  QString text_;
  std::string utf8_;
};

/// Runs a handler body; a failure it does not catch ends it with an error box.
template <class F> void guarded(MessageBoxes& messages, F&& body) noexcept {
  try {
    body();
  } catch (const Failure& f) {
    messages.showError(f.text());
  } catch (const std::exception& e) {
    messages.showError(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    messages.showError(QStringLiteral("Unexpected error"));
  }
}

}  // namespace kivo
