#include "ui/InitComm.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <array>

#include "serial/PortList.h"
#include "ui/Application.h"
#include "ui/Fonts.h"
#include "ui/Place.h"

namespace kkm::ui {

TInit_Com::TInit_Com(MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), boxes_(boxes) {
  // 1. The window: a fixed client area, no buttons in the title bar.
  setObjectName("Init_Com");
  setWindowTitle("Настройка последовательного интерфейса");
  setFont(DefaultFont());
  setFixedSize(kClientWidth, kClientHeight);

  // 2. The controls, in their tab order.
  Button1 = Place(new QPushButton("Установить интерфейс", this), "Button1", 56, 48, 129, 25);
  Button3 = Place(new QPushButton("Закрыть", this), "Button3", 192, 48, 81, 25);
  RadioButton1 = Place(new QRadioButton("COM1", this), "RadioButton1", 16, 16, 57, 17);
  RadioButton2 = Place(new QRadioButton("COM2", this), "RadioButton2", 96, 16, 57, 17);
  RadioButton3 = Place(new QRadioButton("COM3", this), "RadioButton3", 176, 16, 65, 17);
  RadioButton4 = Place(new QRadioButton("COM4", this), "RadioButton4", 256, 16, 57, 17);
  setTabOrder(Button1, Button3);
  setTabOrder(Button3, RadioButton1);
  setTabOrder(RadioButton1, RadioButton2);
  setTabOrder(RadioButton2, RadioButton3);
  setTabOrder(RadioButton3, RadioButton4);
  RadioButton1->setChecked(true);

  connect(Button1, &QPushButton::clicked, this, [this] { RunHandler(boxes_, [this] { Button1Click(); }); });
  connect(Button3, &QPushButton::clicked, this, [this] { RunHandler(boxes_, [this] { Button3Click(); }); });
}

void TInit_Com::setConnectProcedure(std::function<void()> procedure) {
  connectProcedure_ = std::move(procedure);
}

void TInit_Com::setProcessorLinkQuery(std::function<bool()> query) { processorLinkQuery_ = std::move(query); }

bool TInit_Com::processorLinkSelected() const { return processorLinkQuery_ ? processorLinkQuery_() : true; }

std::uint8_t TInit_Com::selectedPortNumber() const {
  const std::array<const QRadioButton*, 4> buttons{RadioButton1, RadioButton2, RadioButton3, RadioButton4};
  std::uint8_t number = 0;
  for (std::uint8_t i = 0; i < buttons.size(); ++i) {
    if (buttons[i]->isChecked()) number = i + 1;
  }
  return number;
}

void TInit_Com::FormActivate() {
  attemptRan_ = false;
  Button3->setEnabled(true);
  // Each button's tooltip names what its COM name leads to now: the map or
  // an adapter may have changed since the dialog was last shown.
  serial::DeviceTree tree;
  tree.holders = false;
  const std::vector<serial::SerialDevice> devices = serial::ListSerialDevices(tree);
  for (QRadioButton* button : {RadioButton1, RadioButton2, RadioButton3, RadioButton4})
    button->setToolTip(
        QString::fromStdString(serial::DescribeComPort(button->text().toStdString(), devices)));
}

void TInit_Com::Button1Click() {
  if (connectProcedure_) {
    attemptRan_ = true;
    connectProcedure_();
  } else {
    close();
  }
}

void TInit_Com::Button3Click() { close(); }

void TInit_Com::showEvent(QShowEvent* event) {
  // Centred on the desktop each time it appears.
  if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
  FormActivate();
  QDialog::showEvent(event);
}

void TInit_Com::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace kkm::ui
