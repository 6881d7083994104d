#pragma once
// The serial-interface setup dialog: four radio buttons choose COM1..COM4,
// "Установить интерфейс" runs the connection procedure, "Закрыть" closes.
// Each time it is shown it clears AppState::interfaceReady, so after it closes
// that flag tells whether this showing made a connection. It is created once
// and kept, so the port last chosen stays selected.

#include <QDialog>
#include <cstdint>
#include <functional>

#include "ui/AppState.h"
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
  TInit_Com(AppState& state, MessageBoxes& boxes, QWidget* parent = nullptr);

  AppState& state() const { return state_; }
  MessageBoxes& messageBoxes() const { return boxes_; }

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

 public slots:
  void FormCreate();
  void FormActivate();
  void Button1Click();
  void Button3Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  AppState& state_;
  MessageBoxes& boxes_;
  std::function<void()> connectProcedure_;
  std::function<bool()> processorLinkQuery_;

  QPushButton* Button1;
  QPushButton* Button3;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QRadioButton* RadioButton3;
  QRadioButton* RadioButton4;
};

}  // namespace kkm::ui
