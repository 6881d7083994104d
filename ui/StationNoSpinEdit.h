#pragma once
// The network number field: an edit box with up and down arrow buttons.
//
// - Typing accepts the digits, '+', '-', the locale's decimal separator and
//   control characters other than Enter (backspace, Ctrl+V, ...). Any other
//   character, Enter and the blank included, is refused with a beep.
// - The operator's edits, typed or pasted, keep at most kMaxLength characters;
//   pasted text is not filtered otherwise.
// - value() reads the text as an integer with an optional sign, decimal or,
//   after "$" or "0x", hexadecimal; unreadable text counts as kMinValue.
// - The Up and Down keys and the arrow buttons step value() by one within
//   kMinValue..kMaxValue and write it back as decimal text. A held button
//   repeats after kRepeatDelayMs, then every kRepeatIntervalMs; pressing one
//   moves the keyboard focus into the field.
// - When the focus moves to another control, decimal text outside the range
//   is replaced by the nearest limit; any other text stays as it is.
// - Taking the focus by mouse or keyboard selects the whole text, so typing
//   replaces the number instead of adding to it; a character that no longer
//   fits (the field is full and nothing is selected) beeps like a refused one.
// - setText() puts the program's text in unchanged, without these rules.

#include <QString>
#include <QWidget>
#include <functional>

class QKeyEvent;
class QLineEdit;
class QToolButton;

namespace kkm::ui {

class TStationNoSpinEdit : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMinValue = 1;
  static constexpr int kMaxValue = 99;
  static constexpr int kMaxLength = 3;
  static constexpr int kRepeatDelayMs = 400;
  static constexpr int kRepeatIntervalMs = 100;

  explicit TStationNoSpinEdit(QWidget* parent = nullptr);

  QString text() const;
  void setText(const QString& text);
  int value() const;

  // Sets value() + steps, limited to the range, as decimal text.
  void stepBy(int steps);

  // What a refused character sounds like; QApplication::beep() at first.
  void setBeep(std::function<void()> beep);

  QLineEdit* lineEdit() const { return edit_; }
  QToolButton* upButton() const { return up_; }
  QToolButton* downButton() const { return down_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // True when the key event was a refused character or a step, i.e. consumed.
  bool handleKey(const QKeyEvent& key);
  void clampDecimalText();

  QLineEdit* edit_;
  QToolButton* up_;
  QToolButton* down_;
  std::function<void()> beep_;
  bool selectOnRelease_ = false;
};

}  // namespace kkm::ui
