#pragma once
// The main window: a toolbar (connect, read, write, exit), the instructions,
// the link selector (processor or KIA microcontroller), the network number
// field, a status strip and a notice strip.
//
// It is a view and decides nothing about the session: the connect, read and
// write buttons run commands set from outside (setConnectCommand,
// setReadCommand, setWriteCommand; nothing runs until one is set), and those
// commands set the status text and the read and write buttons' states
// through the setters here. The read and write buttons start disabled; the
// exit button closes the window.

#include <QWidget>
#include <functional>

#include "ui/MessageBoxes.h"

class QFrame;
class QLabel;
class QPlainTextEdit;
class QRadioButton;
class QToolButton;

namespace kkm::ui {

class ShadowLabel;
class TStationNoSpinEdit;

class TMainForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 278;
  static constexpr int kClientHeight = 224;

  using Command = std::function<void()>;

  explicit TMainForm(MessageBoxes& boxes, QWidget* parent = nullptr);

  // The port belongs to the service session, which closes it when it ends.
  ~TMainForm() override = default;

  // What the connect, read and write buttons run; nothing until set. The
  // toolbar is painted before the connect command runs, since that command
  // shows a modal dialog.
  void setConnectCommand(Command command);
  void setReadCommand(Command command);
  void setWriteCommand(Command command);

  // Disables the read and write buttons and paints them at once, without
  // processing any event, before a command blocks.
  void paintCommandsDisabled();

  // True when KKM_RadioButton (the link through the register's processor) is
  // checked; otherwise Micro_RadioButton is and the KIA link is chosen.
  bool processorLinkSelected() const;

  QString statusText() const;
  void setStatusText(const QString& text);
  TStationNoSpinEdit& stationNoSpinEdit() const { return *StationNoSpinEdit; }

  // Enable or disable the read and write buttons together.
  void ButtonEnabled();
  void ButtonDisabled();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The toolbar's click handlers.
  void tbExitClick();
  void tbConnectClick();
  void tbReadClick();
  void tbWriteClick();

  void buildToolBar();
  void buildPanel();
  void buildStrips();

  MessageBoxes& boxes_;
  Command connectCommand_;
  Command readCommand_;
  Command writeCommand_;
  bool shownBefore_ = false;

  QFrame* ToolPanel;
  QWidget* ToolBar;
  QToolButton* tbConnect;
  QFrame* ToolButton8;
  QToolButton* tbRead;
  QToolButton* tbWrite;
  QFrame* ToolButton9;
  QToolButton* tbExit;
  QFrame* Panel;
  QLabel* PanelStatus;
  QFrame* Panel1;
  ShadowLabel* RxLabel1;
  QRadioButton* KKM_RadioButton;
  QRadioButton* Micro_RadioButton;
  TStationNoSpinEdit* StationNoSpinEdit;
  QPlainTextEdit* Memo1;
  QLabel* Label1;
};

}  // namespace kkm::ui
