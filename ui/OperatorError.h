#pragma once
// An error meant for the operator's eyes: the standard error box shows its
// text exactly as given (what() carries a UTF-8 copy, which a NUL character
// in the operator's own input would cut short).

#include <QString>
#include <stdexcept>

namespace kkm::ui {

class OperatorError : public std::runtime_error {
 public:
  explicit OperatorError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
  const QString& text() const { return text_; }

 private:
  QString text_;
};

}  // namespace kkm::ui
