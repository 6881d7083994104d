#pragma once
// Connects the two windows to each other and to the work behind their buttons:
// the main window shows the setup dialog, the dialog asks the main window for
// the chosen link and runs the connection procedure behind "Установить
// интерфейс", and the read and write buttons run the network number commands.

namespace kkm::ui {

class TInit_Com;
class TMainForm;

void WireWindows(TMainForm& mainForm, TInit_Com& initCom);

}  // namespace kkm::ui
