#include "ui/MainForm.h"

#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>
#include <algorithm>

#include "ui/Application.h"
#include "ui/Fonts.h"
#include "ui/Place.h"
#include "ui/ShadowLabel.h"
#include "ui/StationNoSpinEdit.h"

// The toolbar images are compiled into this static library; its resource
// initialiser has to be referenced for the linker to keep it, and run once.
static void LoadToolBarImages() {
  static const bool loaded = [] {
    Q_INIT_RESOURCE(icons);
    return true;
  }();
  (void)loaded;
}

namespace kkm::ui {

namespace {

constexpr int kToolBarButtonWidth = 39;
constexpr int kToolBarButtonHeight = 38;
constexpr int kToolBarDividerWidth = 8;
constexpr int kToolBarEdgeHeight = 2;
constexpr int kIconSize = 32;

constexpr const char* kInstructions[] = {
    "Для изменения сетевого номера выберите тип ",
    "связи и установите последовательный интерфейс",
    "с процессором. Далее установите необходимый ",
    "сетевой номер в диапазоне 1-99 и запишите его.",
};

constexpr const char* kNotice = "Подключите ККМ к порту COM1-COM4";

QFrame* RaisedPanel(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* panel = Place(new QFrame(parent), name, left, top, width, height);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  return panel;
}

}  // namespace

TMainForm::TMainForm(MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      boxes_(boxes) {
  // 1. The window: fixed client area, the application's title.
  setObjectName("MainForm");
  setWindowTitle(kApplicationTitle);
  setFont(DefaultFont());
  setFixedSize(kClientWidth, kClientHeight);

  // 2. The controls, top to bottom.
  buildToolBar();
  buildPanel();
  buildStrips();

  const auto onClick = [this](QToolButton* button, void (TMainForm::*handler)()) {
    connect(button, &QToolButton::clicked, this,
            [this, handler] { RunHandler(boxes_, [&] { (this->*handler)(); }); });
  };
  onClick(tbConnect, &TMainForm::tbConnectClick);
  onClick(tbRead, &TMainForm::tbReadClick);
  onClick(tbWrite, &TMainForm::tbWriteClick);
  onClick(tbExit, &TMainForm::tbExitClick);

  // 3. The first control of the keyboard order starts with the focus; the
  //    commands wait for a connection.
  KKM_RadioButton->setFocus();
  ButtonDisabled();
}

void TMainForm::buildToolBar() {
  LoadToolBarImages();
  ToolPanel = RaisedPanel(this, "ToolPanel", 0, 0, kClientWidth, 43);
  ToolBar = Place(new QWidget(ToolPanel), "ToolBar", 1, 1, 276, kToolBarEdgeHeight + kToolBarButtonHeight);

  // The etched edge along the toolbar's top; the buttons sit below it.
  auto* edge = new QFrame(ToolBar);
  edge->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  edge->setGeometry(0, 0, ToolBar->width(), kToolBarEdgeHeight);

  const auto button = [this](const char* name, int left, const char* image, const char* hint) {
    auto* tool = Place(new QToolButton(ToolBar), name, left, kToolBarEdgeHeight, kToolBarButtonWidth,
                       kToolBarButtonHeight);
    tool->setAutoRaise(true);
    tool->setFocusPolicy(Qt::NoFocus);
    tool->setIcon(QIcon(image));
    tool->setIconSize(QSize(kIconSize, kIconSize));
    tool->setToolTip(hint);
    return tool;
  };
  const auto divider = [this](const char* name, int left) {
    auto* line = Place(new QFrame(ToolBar), name, left, kToolBarEdgeHeight, kToolBarDividerWidth,
                       kToolBarButtonHeight);
    line->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    return line;
  };
  tbConnect = button("tbConnect", 0, ":/icons/connect.png", "Установка интерфейса с ККМ");
  ToolButton8 = divider("ToolButton8", 39);
  tbRead = button("tbRead", 47, ":/icons/read.png", "Чтение сетевого номера ККМ");
  tbWrite = button("tbWrite", 86, ":/icons/write.png", "Запись сетевого номера в ККМ");
  ToolButton9 = divider("ToolButton9", 125);
  tbExit = button("tbExit", 133, ":/icons/exit.png", "Выход");
}

void TMainForm::buildPanel() {
  Panel = RaisedPanel(this, "Panel", 0, 43, kClientWidth, 135);

  Memo1 = Place(new QPlainTextEdit(Panel), "Memo1", 5, 5, 268, 60);
  Memo1->setReadOnly(true);
  Memo1->setFrameStyle(QFrame::Box | QFrame::Plain);
  Memo1->setLineWidth(1);
  Memo1->setFocusPolicy(Qt::StrongFocus);
  Memo1->setTabChangesFocus(true);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->document()->setDocumentMargin(1);
  QStringList lines;
  for (const char* line : kInstructions) lines << QString(line);
  Memo1->setPlainText(lines.join(u'\n'));

  KKM_RadioButton = Place(new QRadioButton("Связь с ЦП кассы через порт RS232/485", Panel), "KKM_RadioButton",
                          8, 69, 233, 17);
  Micro_RadioButton =
      Place(new QRadioButton("Связь с микроконтроллером КИА", Panel), "Micro_RadioButton", 8, 85, 193, 17);
  KKM_RadioButton->setChecked(true);

  // The label sizes itself to its caption (80 pixels in the font the layout was made for).
  Label1 = Place(new QLabel("Сетевой номер:", Panel), "Label1", 10, 112, 80, 13);
  Label1->resize(std::max(Label1->width(), Label1->sizeHint().width()), Label1->height());
  StationNoSpinEdit = Place(new TStationNoSpinEdit(Panel), "StationNoSpinEdit", 96, 104, 49, 22);

  setTabOrder(KKM_RadioButton, Micro_RadioButton);
  setTabOrder(Micro_RadioButton, StationNoSpinEdit);
  setTabOrder(StationNoSpinEdit, Memo1);
}

void TMainForm::buildStrips() {
  PanelStatus = Place(new QLabel(this), "PanelStatus", 0, 178, kClientWidth, 22);
  PanelStatus->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PanelStatus->setLineWidth(1);
  PanelStatus->setTextFormat(Qt::PlainText);
  PanelStatus->setAlignment(Qt::AlignCenter);
  PanelStatus->setFont(StatusFont());
  QPalette statusColours = PanelStatus->palette();
  statusColours.setColor(QPalette::WindowText, Qt::blue);
  PanelStatus->setPalette(statusColours);

  Panel1 = RaisedPanel(this, "Panel1", 0, 200, kClientWidth, 24);
  RxLabel1 = Place(new ShadowLabel(kNotice, Panel1), "RxLabel1", 3, 3, 270, 16);
  RxLabel1->setAlignment(Qt::AlignCenter);
  RxLabel1->setFont(NoticeFont());
}

void TMainForm::setConnectCommand(Command command) { connectCommand_ = std::move(command); }

void TMainForm::setReadCommand(Command command) { readCommand_ = std::move(command); }

void TMainForm::setWriteCommand(Command command) { writeCommand_ = std::move(command); }

void TMainForm::paintCommandsDisabled() {
  ButtonDisabled();
  tbRead->repaint();
  tbWrite->repaint();
}

bool TMainForm::processorLinkSelected() const { return KKM_RadioButton->isChecked(); }

QString TMainForm::statusText() const { return PanelStatus->text(); }

void TMainForm::setStatusText(const QString& text) { PanelStatus->setText(text); }

void TMainForm::tbExitClick() { close(); }

void TMainForm::tbConnectClick() {
  // Finish drawing the toolbar before the command's dialog takes over.
  ToolBar->repaint();
  if (connectCommand_) connectCommand_();
}

void TMainForm::ButtonEnabled() {
  tbRead->setEnabled(true);
  tbWrite->setEnabled(true);
}

void TMainForm::ButtonDisabled() {
  tbRead->setEnabled(false);
  tbWrite->setEnabled(false);
}

void TMainForm::tbReadClick() {
  if (readCommand_) readCommand_();
}

void TMainForm::tbWriteClick() {
  if (writeCommand_) writeCommand_();
}

void TMainForm::showEvent(QShowEvent* event) {
  // Centred on the screen the first time it appears.
  if (!shownBefore_) {
    shownBefore_ = true;
    if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
  }
  QWidget::showEvent(event);
}

}  // namespace kkm::ui
