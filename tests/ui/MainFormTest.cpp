// The main window and the setup dialog's face, driven through their controls:
// start state, the connect button's report for each outcome and link (as the
// presenter decides it, with stand-in connection procedures), the focus
// staying put on toolbar presses, and errors escaping a click handler.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <memory>
#include <stdexcept>

#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/WindowsRig.h"
#include "ui/Application.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/SessionPresenter.h"
#include "ui/StationNoSpinEdit.h"

namespace kkm::ui {
namespace {

using test::RecordingMessageBoxes;
using Icon = MessageBoxes::Icon;

// The status texts after the dialog, spelt with the Cyrillic letter "с"
// (U+0441) before the link word.
const QString kNoLinkWith = test::kNoContactDialog;
const QString kLinkWith = test::kConnectedDialog;

template <typename Control>
Control* Find(const QWidget& window, const char* name) {
  auto* control = window.findChild<Control*>(name);
  EXPECT_NE(control, nullptr) << name;
  return control;
}

using test::Click;
using test::RouteAppBoxes;

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = std::make_unique<TMainForm>(boxes_);
    presenter_ = std::make_unique<SessionPresenter>(session_, boxes_, *form_, initCom_);
    initCom_.setConnectProcedure({});
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }

  template <typename Control>
  Control* control(const char* name) const {
    return Find<Control>(*form_, name);
  }
  QToolButton* button(const char* name) const { return test::ToolButton(*form_, name); }
  QLineEdit* numberEdit() const { return form_->stationNoSpinEdit().lineEdit(); }
  bool commandsEnabled() const { return test::CommandsEnabled(*form_); }

  // Runs the connect button; once the dialog's modal loop runs, presses its
  // "Установить интерфейс" (Button1) or "Закрыть" (Button3).
  void connectVia(const char* dialogButton) {
    bool pressed = false;
    QTimer::singleShot(0, &initCom_, [this, dialogButton, &pressed] {
      pressed = initCom_.isVisible();
      Click(Find<QPushButton>(initCom_, dialogButton));
      if (initCom_.isVisible()) initCom_.reject();  // never leave a test hanging in the dialog
    });
    Click(button("tbConnect"));
    EXPECT_TRUE(pressed);
    EXPECT_FALSE(initCom_.isVisible());
  }
  // A connection procedure that succeeds, as the real one does: it closes the
  // dialog with Accepted.
  void connectionSucceeds() {
    initCom_.setConnectProcedure([this] { initCom_.accept(); });
  }

  RecordingMessageBoxes boxes_;
  RouteAppBoxes route_{boxes_};
  TInit_Com initCom_{boxes_};
  std::unique_ptr<TMainForm> form_;
  sim::VirtualLine line_;
  sim::VirtualPlatform platform_{line_};
  service::Session session_{platform_, "kkm-netnum"};
  std::unique_ptr<SessionPresenter> presenter_;
};

TEST_F(MainFormTest, StartsWithCommandsDisabledTheProcessorLinkAndNumberOne) {
  EXPECT_FALSE(commandsEnabled());
  EXPECT_TRUE(button("tbConnect")->isEnabled());
  EXPECT_TRUE(button("tbExit")->isEnabled());
  EXPECT_EQ(form_->statusText(), "");
  EXPECT_EQ(form_->stationNoSpinEdit().text(), "1");
  EXPECT_TRUE(control<QRadioButton>("KKM_RadioButton")->isChecked());
  EXPECT_FALSE(control<QRadioButton>("Micro_RadioButton")->isChecked());
  EXPECT_TRUE(control<QRadioButton>("KKM_RadioButton")->hasFocus());
  EXPECT_EQ(form_->windowTitle(), "Сетевой номер ККМ ТИМ-31Ц");

  // The instructions, trailing blanks of the first and third lines included.
  auto* memo = control<QPlainTextEdit>("Memo1");
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->toPlainText(),
            "Для изменения сетевого номера выберите тип \n"
            "связи и установите последовательный интерфейс\n"
            "с процессором. Далее установите необходимый \n"
            "сетевой номер в диапазоне 1-99 и запишите его.");
}

TEST_F(MainFormTest, TheSetupDialogStartsOnCom1AndKeepsOnePortChosen) {
  EXPECT_TRUE(Find<QRadioButton>(initCom_, "RadioButton1")->isChecked());
  EXPECT_EQ(initCom_.selectedPortNumber(), 1);
  Find<QRadioButton>(initCom_, "RadioButton3")->setChecked(true);
  EXPECT_EQ(initCom_.selectedPortNumber(), 3);
  EXPECT_FALSE(Find<QRadioButton>(initCom_, "RadioButton1")->isChecked());

  // Escape leaves the dialog open.
  initCom_.show();
  QTest::keyClick(&initCom_, Qt::Key_Escape);
  EXPECT_TRUE(initCom_.isVisible());
  initCom_.reject();
}

TEST_F(MainFormTest, TheStatusStripReportsEachOutcomeForTheLinkSelected) {
  // Closing without connecting, processor link: nothing enabled.
  connectVia("Button3");
  EXPECT_EQ(form_->statusText(), kNoLinkWith + "ККМ");
  EXPECT_FALSE(commandsEnabled());

  // A connection enables the commands.
  connectionSucceeds();
  connectVia("Button1");
  EXPECT_EQ(form_->statusText(), kLinkWith + "ККМ");
  EXPECT_TRUE(commandsEnabled());

  // Showing the dialog again and closing it reports no link and leaves the
  // commands as they were.
  Click(control<QRadioButton>("Micro_RadioButton"));
  connectVia("Button3");
  EXPECT_EQ(form_->statusText(), kNoLinkWith + "микроконтроллером");
  EXPECT_TRUE(commandsEnabled());

  connectVia("Button1");
  EXPECT_EQ(form_->statusText(), kLinkWith + "микроконтроллером");
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(MainFormTest, TheConnectionProcedureSeesTheChosenPortAndLink) {
  std::vector<std::pair<int, bool>> seen;
  initCom_.setConnectProcedure([this, &seen] {
    seen.emplace_back(initCom_.selectedPortNumber(), initCom_.processorLinkSelected());
    initCom_.accept();
  });
  connectVia("Button1");
  Click(control<QRadioButton>("Micro_RadioButton"));
  Find<QRadioButton>(initCom_, "RadioButton4")->setChecked(true);
  connectVia("Button1");
  EXPECT_EQ(seen, (std::vector<std::pair<int, bool>>{{1, true}, {4, false}}));
  // The port chosen stays chosen for the next showing.
  EXPECT_EQ(initCom_.selectedPortNumber(), 4);
}

TEST_F(MainFormTest, WithoutAProcedureInstalledTheConnectButtonOnlyClosesTheDialog) {
  connectVia("Button1");
  EXPECT_EQ(form_->statusText(), kNoLinkWith + "ККМ");
}

TEST_F(MainFormTest, ToolbarButtonsLeaveTheFocusSoTheCommandGetsTheTextUnclamped) {
  QString written;
  int reads = 0;
  form_->setWriteCommand([this, &written] { written = form_->stationNoSpinEdit().text(); });
  form_->setReadCommand([&reads] { ++reads; });
  form_->ButtonEnabled();

  numberEdit()->setFocus(Qt::MouseFocusReason);
  numberEdit()->clear();
  QTest::keyClicks(numberEdit(), "150");
  Click(button("tbWrite"));
  EXPECT_EQ(written, "150");
  EXPECT_TRUE(numberEdit()->hasFocus());
  Click(button("tbRead"));
  EXPECT_EQ(reads, 1);

  // Tab moves on to the instructions and clamps.
  QTest::keyClick(numberEdit(), Qt::Key_Tab);
  EXPECT_TRUE(control<QPlainTextEdit>("Memo1")->hasFocus());
  EXPECT_EQ(form_->stationNoSpinEdit().text(), "99");
}

TEST_F(MainFormTest, AnErrorEscapingAClickHandlerShowsTheStandardBoxAndTheWindowGoesOn) {
  int reads = 0;
  form_->setWriteCommand([] { throw std::invalid_argument("'$1.' is not a valid integer value"); });
  form_->setReadCommand([&reads] { ++reads; });
  form_->ButtonEnabled();

  Click(button("tbWrite"));
  const RecordingMessageBoxes::Box standard{"'$1.' is not a valid integer value.",
                                            "Сетевой номер ККМ ТИМ-31Ц", Icon::Error};
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0], standard);

  // Everything still answers, and a second error is reported the same way.
  Click(button("tbRead"));
  EXPECT_EQ(reads, 1);
  numberEdit()->setFocus(Qt::MouseFocusReason);
  QTest::keyClick(numberEdit(), Qt::Key_Up);
  EXPECT_EQ(form_->stationNoSpinEdit().text(), "2");
  Click(button("tbWrite"));
  EXPECT_EQ(boxes_.boxes.size(), 2u);
}

TEST_F(MainFormTest, AnErrorEscapingTheConnectionProcedureLeavesTheDialogOpen) {
  bool openAfterError = false;
  initCom_.setConnectProcedure([] { throw std::runtime_error("port gone"); });
  QTimer::singleShot(0, &initCom_, [this, &openAfterError] {
    Click(Find<QPushButton>(initCom_, "Button1"));
    openAfterError = initCom_.isVisible();
    Click(Find<QPushButton>(initCom_, "Button3"));
  });
  Click(button("tbConnect"));
  EXPECT_TRUE(openAfterError);
  EXPECT_EQ(
      boxes_.boxes,
      (std::vector<RecordingMessageBoxes::Box>{{"port gone.", "Сетевой номер ККМ ТИМ-31Ц", Icon::Error}}));
  EXPECT_EQ(form_->statusText(), kNoLinkWith + "ККМ");
}

// Any other event handler: the application object catches the error.
TEST(ApplicationTest, AnErrorEscapingAnyEventHandlerShowsTheStandardBox) {
  class Faulty : public QObject {
    bool event(QEvent* event) override {
      if (event->type() == QEvent::User) throw std::runtime_error("Ошибка 5");
      return QObject::event(event);
    }
  } faulty;
  RecordingMessageBoxes boxes;
  {
    const RouteAppBoxes route(boxes);
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&faulty, &event);
    QCoreApplication::sendEvent(&faulty, &event);
  }
  const RecordingMessageBoxes::Box standard{"Ошибка 5.", "Сетевой номер ККМ ТИМ-31Ц", Icon::Error};
  EXPECT_EQ(boxes.boxes, (std::vector<RecordingMessageBoxes::Box>{standard, standard}));
}

// The desktop matches the windows to the desktop entry by their class (the
// application name, so plain ASCII) and shows the same icon on each.
TEST_F(MainFormTest, TheWindowsCarryTheProgramsIconAndAnAsciiClass) {
  EXPECT_EQ(QCoreApplication::applicationName(), "kkm-netnum");
  EXPECT_EQ(QGuiApplication::desktopFileName(), "kkm-netnum");
  const QList<QSize> sizes{{48, 48}, {64, 64}, {128, 128}};
  EXPECT_EQ(form_->windowIcon().availableSizes(), sizes);
  EXPECT_EQ(initCom_.windowIcon().availableSizes(), sizes);
}

// A field's context menu: Qt's own texts, in Russian while the translation is
// installed (skipped where the system has none).
TEST(ApplicationTest, QtsOwnTextsTurnRussianWithTheToolkitTranslation) {
  QLineEdit field;
  const auto menuTexts = [&field] {
    const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList texts;
    for (const QAction* action : menu->actions())
      if (!action->isSeparator()) texts << action->text();
    return texts;
  };
  const QStringList english = menuTexts();
  ASSERT_FALSE(english.isEmpty());
  {
    const std::unique_ptr<QTranslator> translation = LoadToolkitTranslation();
    if (!translation) GTEST_SKIP() << "Qt's Russian texts are not installed (qt6-translations-l10n)";
    const QStringList russian = menuTexts();
    ASSERT_EQ(russian.size(), english.size());
    for (qsizetype i = 0; i < russian.size(); ++i) {
      const bool cyrillic = std::any_of(russian[i].begin(), russian[i].end(),
                                        [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
      EXPECT_TRUE(cyrillic) << russian[i].toStdString() << " for " << english[i].toStdString();
    }
  }
  EXPECT_EQ(menuTexts(), english) << "the translation ends with its object";
}

TEST(StandardErrorText, AddsAFullStopOnlyAfterALetterOrDigit) {
  EXPECT_EQ(StandardErrorText("bad value"), "bad value.");
  EXPECT_EQ(StandardErrorText("code 7"), "code 7.");
  EXPECT_EQ(StandardErrorText("ошибка"), "ошибка.");
  EXPECT_EQ(StandardErrorText("done."), "done.");
  EXPECT_EQ(StandardErrorText("'$x'"), "'$x'");
  EXPECT_EQ(StandardErrorText("what?"), "what?");
  EXPECT_EQ(StandardErrorText(""), "");
}

TEST_F(MainFormTest, LeavingWithoutConnectingShowsNothing) {
  Click(button("tbExit"));
  EXPECT_FALSE(form_->isVisible());
  form_.reset();
  EXPECT_TRUE(boxes_.boxes.empty());
}

}  // namespace
}  // namespace kkm::ui
