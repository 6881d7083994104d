// With the fonts the windows fall back to where "MS Sans Serif" and "Times New
// Roman" are missing, every caption and text must still show in full within
// the sizes of the layout.

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>
#include <string>

#include "tests/support/RecordingMessageBoxes.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"

namespace kkm::ui {
namespace {

// The text of every radio button, push button and plain label fits the room
// its control leaves for text.
void ExpectCaptionsFit(const QWidget& window) {
  for (const QWidget* control : window.findChildren<QWidget*>()) {
    const std::string name = control->objectName().toStdString();
    const QFontMetrics metrics(control->font());
    int textRoom = -1;
    QString text;
    if (const auto* radio = qobject_cast<const QRadioButton*>(control)) {
      QStyleOptionButton option;
      option.initFrom(radio);
      option.text = text = radio->text();
      textRoom = radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, radio).width();
    } else if (const auto* button = qobject_cast<const QPushButton*>(control)) {
      EXPECT_LE(button->sizeHint().width(), button->width()) << name;
      continue;
    } else if (const auto* label = qobject_cast<const QLabel*>(control); label && label->frameWidth() == 0) {
      text = label->text();
      textRoom = label->width();
    } else {
      continue;
    }
    EXPECT_LE(metrics.horizontalAdvance(text), textRoom) << name;
    EXPECT_LE(metrics.height(), control->height()) << name;
  }
}

// One line of `text` in `font` fits `width` pixels.
void ExpectLineFits(const QString& text, const QFont& font, int width) {
  EXPECT_LE(QFontMetrics(font).horizontalAdvance(text), width) << text.toStdString();
}

class LayoutTest : public ::testing::Test {
 protected:
  test::RecordingMessageBoxes boxes_;
  TInit_Com initCom_{boxes_};
  TMainForm form_{boxes_};

  void SetUp() override {
    // Shown, so that the controls have laid out their insides.
    form_.show();
    initCom_.show();
  }
  void TearDown() override { initCom_.hide(); }
};

TEST_F(LayoutTest, CaptionsOfBothWindowsShowInFull) {
  ExpectCaptionsFit(form_);
  ExpectCaptionsFit(initCom_);
}

TEST_F(LayoutTest, EachInstructionLineFitsTheMemoWithoutWrapping) {
  const auto* memo = form_.findChild<QPlainTextEdit*>("Memo1");
  ASSERT_NE(memo, nullptr);
  const int usable = memo->viewport()->width() - 2 * static_cast<int>(memo->document()->documentMargin());
  for (const QString& line : memo->toPlainText().split(u'\n')) ExpectLineFits(line, memo->font(), usable);
  // Four lines high, so all of them are visible at once.
  EXPECT_LE(4 * QFontMetrics(memo->font()).lineSpacing(), memo->viewport()->height());
}

TEST_F(LayoutTest, StatusAndNoticeTextsFitTheirStrips) {
  const auto* status = form_.findChild<QLabel*>("PanelStatus");
  ASSERT_NE(status, nullptr);
  // The longest texts the strip receives, after a connection and after a command.
  for (const char* text : {"Установлен интерфейс с микроконтроллером", "Нет связи c микроконтроллером КИА"}) {
    ExpectLineFits(text, status->font(), status->contentsRect().width());
  }
  const auto* notice = form_.findChild<QLabel*>("RxLabel1");
  ASSERT_NE(notice, nullptr);
  ExpectLineFits(notice->text(), notice->font(), notice->width() - 1);
}

}  // namespace
}  // namespace kkm::ui
