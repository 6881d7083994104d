#pragma once
// The main window: a toolbar (connect, read, write, exit), the instructions,
// the link selector (processor or KIA microcontroller), the network number
// field, a status strip and a notice strip.
//
// The read and write buttons start disabled and are only ever enabled by
// ButtonEnabled(): after a connection (tbConnectClick) or by the read and
// write commands, which are hooks set from outside (setReadCommand,
// setWriteCommand). A connection attempt that ran and failed disables them:
// it closed the earlier port. Closing the setup dialog without an attempt
// leaves them as they were. After a connection the connected command runs
// (setConnectedCommand).

#include <QWidget>
#include <functional>

#include "ui/InitComm.h"
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

  // The setup dialog the connect button shows; created after this window.
  void setSetupDialog(TInit_Com& initCom) { initCom_ = &initCom; }
  // The port belongs to the service session, which closes it when it ends.
  ~TMainForm() override = default;

  // What the read and write buttons run; nothing until set.
  void setReadCommand(Command command);
  void setWriteCommand(Command command);
  // What runs after a connection, once the buttons are enabled.
  void setConnectedCommand(Command command);

  // Disables the read and write buttons and paints them at once, without
  // processing any event, before a command blocks.
  void paintCommandsDisabled();

  // True when KKM_RadioButton (the link through the register's processor) is
  // checked; otherwise Micro_RadioButton is and the KIA link is chosen.
  bool processorLinkSelected() const;

  QString statusText() const;
  void setStatusText(const QString& text);
  TStationNoSpinEdit& stationNoSpinEdit() const { return *StationNoSpinEdit; }

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
  TInit_Com* initCom_ = nullptr;
  Command readCommand_;
  Command writeCommand_;
  Command connectedCommand_;
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
