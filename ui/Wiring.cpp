#include "ui/Wiring.h"

#include "ui/ConnectionProcedure.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/NetworkNumberCommands.h"
#include "ui/StationNoSpinEdit.h"

namespace kkm::ui {

namespace {

// The main window as the network number commands see it.
class MainFormView : public NetworkNumberView {
 public:
  explicit MainFormView(TMainForm& form) : form_(form) {}
  Link selectedLink() const override { return form_.processorLinkSelected() ? Link::Processor : Link::Kia; }
  QString numberText() const override { return form_.stationNoSpinEdit().text(); }
  void setNumberText(const QString& text) override { form_.stationNoSpinEdit().setText(text); }
  void setStatusText(const QString& text) override { form_.setStatusText(text); }
  void ButtonEnabled() override { form_.ButtonEnabled(); }
  void ButtonDisabled() override { form_.ButtonDisabled(); }

 private:
  TMainForm& form_;
};

}  // namespace

void WireWindows(TMainForm& mainForm, TInit_Com& initCom) {
  mainForm.setSetupDialog(initCom);
  initCom.setProcessorLinkQuery([&mainForm] { return mainForm.processorLinkSelected(); });
  initCom.setConnectProcedure([&initCom] {
    const Link link = initCom.processorLinkSelected() ? Link::Processor : Link::Kia;
    if (RunConnectionProcedure(initCom.state(), initCom.messageBoxes(), initCom.selectedPortNumber(), link))
      initCom.accept();
  });
  mainForm.setReadCommand([&mainForm] {
    MainFormView view(mainForm);
    ReadNetworkNumber(mainForm.state(), mainForm.messageBoxes(), view);
  });
  mainForm.setWriteCommand([&mainForm] {
    MainFormView view(mainForm);
    WriteNetworkNumber(mainForm.state(), mainForm.messageBoxes(), view);
  });
}

}  // namespace kkm::ui
