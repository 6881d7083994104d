#include "tests/support/WindowsRig.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "ui/StationNoSpinEdit.h"

namespace kkm::test {

QString CommandLinkWord(ui::Link link) {
  return link == ui::Link::Processor ? QStringLiteral("ККМ") : QStringLiteral("микроконтроллером КИА");
}

void Click(QAbstractButton* button) {
  QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

WindowsRig::WindowsRig(serial::Platform& platform, ui::MessageBoxes& boxes)
    : state_(platform, "kkm-netnum"),
      route_(boxes),
      form_(boxes),
      initCom_(boxes, &form_),
      presenter_(state_, boxes, form_, initCom_) {
  form_.show();
}

void WindowsRig::chooseLink(ui::Link link) {
  Click(
      form_.findChild<QRadioButton*>(link == ui::Link::Processor ? "KKM_RadioButton" : "Micro_RadioButton"));
}

bool WindowsRig::connect(ui::Link link, int port) {
  chooseLink(link);
  QTimer::singleShot(0, &initCom_, [this, port] {
    Click(initCom_.findChild<QRadioButton*>(QStringLiteral("RadioButton%1").arg(port)));
    Click(initCom_.findChild<QPushButton*>("Button1"));
    if (initCom_.isVisible()) Click(initCom_.findChild<QPushButton*>("Button3"));
  });
  Click(button("tbConnect"));
  return initCom_.result() == QDialog::Accepted;
}

void WindowsRig::connectAndClose() {
  QTimer::singleShot(0, &initCom_, [this] { Click(initCom_.findChild<QPushButton*>("Button3")); });
  Click(button("tbConnect"));
}

QToolButton* ToolButton(const ui::TMainForm& form, const char* name) {
  auto* button = form.findChild<QToolButton*>(name);
  if (button == nullptr) ADD_FAILURE() << "no tool button " << name;
  return button;
}

bool CommandsEnabled(const ui::TMainForm& form) {
  const bool read = ToolButton(form, "tbRead")->isEnabled();
  const bool write = ToolButton(form, "tbWrite")->isEnabled();
  if (read != write)
    ADD_FAILURE() << "the read and write buttons disagree: read " << read << ", write " << write;
  return read;
}

QToolButton* WindowsRig::button(const char* name) const { return ToolButton(form_, name); }

void WindowsRig::read() { Click(button("tbRead")); }

void WindowsRig::write(const QString& text) {
  setNumberText(text);
  pressWrite();
}

void WindowsRig::pressWrite() { Click(button("tbWrite")); }

bool WindowsRig::commandsEnabled() const { return CommandsEnabled(form_); }

QString WindowsRig::numberText() const { return form_.stationNoSpinEdit().text(); }

void WindowsRig::setNumberText(const QString& text) { form_.stationNoSpinEdit().setText(text); }

}  // namespace kkm::test
