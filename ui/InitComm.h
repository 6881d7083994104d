#pragma once
// The serial-interface setup dialog: four radio buttons choose COM1..COM4,
// "Установить интерфейс" runs the connection procedure, "Закрыть" closes.
// Each radio button's tooltip names the device its COM name leads to, found
// afresh each time the dialog is shown.
// exec() returns Accepted when the procedure made a connection (it accepts
// the dialog itself), Rejected otherwise. It is created once and kept, so the
// port last chosen stays selected.
//
// The dialog only offers the choice and tells what happened (exec()'s result,
// attemptRan()); whoever shows it decides the main window's status text and
// buttons from that.

#include <QDialog>
#include <cstdint>
#include <functional>

#include "ui/MessageBoxes.h"

class QPushButton;
class QRadioButton;

namespace kkm::ui {

class TInit_Com : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 340;
  static constexpr int kClientHeight = 83;

  // Errors escaping the click handlers are shown through `boxes`.
  explicit TInit_Com(MessageBoxes& boxes, QWidget* parent = nullptr);

  // The connection procedure behind "Установить интерфейс". It closes the
  // dialog itself on success; without one the button only closes the dialog.
  void setConnectProcedure(std::function<void()> procedure);

  // Asks the main window whether its processor link (KKM_RadioButton) is
  // selected; without an answer the processor link counts as selected, as
  // the main window starts.
  void setProcessorLinkQuery(std::function<bool()> query);
  bool processorLinkSelected() const;

  // 1..4: RadioButton1..RadioButton4 are tested in this order and each one
  // found selected sets its number, so a later one overrides an earlier one.
  std::uint8_t selectedPortNumber() const;

  // Whether "Установить интерфейс" ran the connection procedure since the
  // dialog was last shown.
  bool attemptRan() const { return attemptRan_; }

 protected:
  void showEvent(QShowEvent* event) override;
  // Escape is taken and does nothing: the dialog closes only by "Закрыть" or
  // a connection made.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormActivate();
  void Button1Click();
  void Button3Click();

  MessageBoxes& boxes_;
  std::function<void()> connectProcedure_;
  std::function<bool()> processorLinkQuery_;
  bool attemptRan_ = false;

  QPushButton* Button1;
  QPushButton* Button3;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QRadioButton* RadioButton3;
  QRadioButton* RadioButton4;
};

}  // namespace kkm::ui
