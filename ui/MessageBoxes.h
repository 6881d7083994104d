#pragma once
// How the windows report to the operator: a modal box with a text, a title, an
// icon and one OK button, and for a failure its reason as the box's detailed
// text (shown behind the toolkit's own details button; none when empty).
// show() returns when the operator has closed the box.
// ask() is a question box with the buttons "Да" (the default) and "Нет"; it
// returns true for "Да". QtMessageBoxes is the real one; tests substitute a
// recorder.

#include <QString>

namespace kkm::ui {

class MessageBoxes {
 public:
  enum class Icon { Error, Warning, Information, Question };

  virtual ~MessageBoxes() = default;
  virtual void show(const QString& text, const QString& title, Icon icon, const QString& details = {}) = 0;
  virtual bool ask(const QString& text, const QString& title) = 0;
};

// A QMessageBox over the active window; the text is shown as plain text.
class QtMessageBoxes : public MessageBoxes {
 public:
  void show(const QString& text, const QString& title, Icon icon, const QString& details = {}) override;
  // Closing the box without a button counts as "Нет".
  bool ask(const QString& text, const QString& title) override;
};

}  // namespace kkm::ui
