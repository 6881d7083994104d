// The network number field driven like an operator would: keys, paste, arrow
// buttons and focus moves.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QLocale>
#include <QTest>
#include <QToolButton>
#include <climits>

#include "ui/StationNoSpinEdit.h"

namespace kkm::ui {
namespace {

class StationNoSpinEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.resize(200, 60);
    field_ = new TStationNoSpinEdit(&window_);
    field_->setGeometry(10, 10, 49, 22);
    neighbour_ = new QLineEdit(&window_);
    neighbour_->setGeometry(80, 10, 60, 22);
    field_->setBeep([this] { ++beeps_; });
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    field_->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(edit()->hasFocus());
  }

  QLineEdit* edit() const { return field_->lineEdit(); }
  void type(const QString& keys) { QTest::keyClicks(edit(), keys); }
  // Types into an empty field.
  void retype(const QString& keys) {
    field_->setText("");
    type(keys);
  }

  QWidget window_;
  TStationNoSpinEdit* field_ = nullptr;
  QLineEdit* neighbour_ = nullptr;
  int beeps_ = 0;
};

TEST_F(StationNoSpinEditTest, StartsAtTheMinimum) {
  EXPECT_EQ(field_->text(), "1");
  EXPECT_EQ(field_->value(), 1);
}

TEST_F(StationNoSpinEditTest, RefusesEveryCharacterOutsideTheTypingSetWithABeep) {
  retype("aZ x$*");
  QTest::sendKeyEvent(QTest::Click, edit(), Qt::Key_unknown, QString("Ж"), Qt::NoModifier);
  QTest::keyClick(edit(), Qt::Key_Return);
  QTest::keyClick(edit(), Qt::Key_Enter);
  EXPECT_EQ(field_->text(), "");
  EXPECT_EQ(beeps_, 9);
}

TEST_F(StationNoSpinEditTest, AcceptsDigitsSignsTheSeparatorAndControlCharacters) {
  retype("+-" + QLocale().decimalPoint());
  EXPECT_EQ(field_->text(), "+-" + QLocale().decimalPoint());
  QTest::keyClick(edit(), Qt::Key_Backspace);
  EXPECT_EQ(field_->text(), "+-");
  QTest::keyClick(edit(), Qt::Key_Backspace);
  type("7");
  EXPECT_EQ(field_->text(), "+7");
  EXPECT_EQ(beeps_, 0);
}

TEST_F(StationNoSpinEditTest, TheDecimalSeparatorFollowsTheLocale) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  retype(",.");
  QLocale::setDefault(before);
  EXPECT_EQ(field_->text(), ",");
  EXPECT_EQ(beeps_, 1);
}

TEST_F(StationNoSpinEditTest, AFourthCharacterIsNotAccepted) {
  retype("1234");
  EXPECT_EQ(field_->text(), "123");
  EXPECT_EQ(beeps_, 1);
  // Over a selection the limit still holds for what replaces it.
  edit()->setSelection(1, 1);
  type("89");
  EXPECT_EQ(field_->text(), "183");
}

TEST_F(StationNoSpinEditTest, PasteIsUnfilteredButKeepsTheLimit) {
  QApplication::clipboard()->setText("A$ xyz");
  field_->setText("");
  QTest::keyClick(edit(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(field_->text(), "A$ ");
  EXPECT_EQ(beeps_, 0);

  QApplication::clipboard()->setText("0x");
  retype("5");
  edit()->setCursorPosition(0);
  QTest::keyClick(edit(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(field_->text(), "0x5");
  EXPECT_EQ(field_->value(), 5);
}

TEST_F(StationNoSpinEditTest, TheProgramsTextGoesInUnchangedAndTheOperatorCannotLengthenIt) {
  field_->setText("ABCDE");
  EXPECT_EQ(field_->text(), "ABCDE");
  type("1");
  EXPECT_EQ(field_->text(), "ABCDE");
  QTest::keyClick(edit(), Qt::Key_Backspace);
  type("1");
  EXPECT_EQ(field_->text(), "ABCD");
  QTest::keyClick(edit(), Qt::Key_Backspace);
  QTest::keyClick(edit(), Qt::Key_Backspace);
  type("12");
  EXPECT_EQ(field_->text(), "AB1");
  // Each character that did not fit beeped: "1" twice and the final "2".
  EXPECT_EQ(beeps_, 3);
}

TEST_F(StationNoSpinEditTest, TakingTheFocusSelectsTheWholeNumberSoTypingReplacesIt) {
  const auto clickInto = [this] {
    neighbour_->setFocus(Qt::OtherFocusReason);
    QTest::mouseClick(edit(), Qt::LeftButton, {}, QPoint(edit()->width() / 4, edit()->height() / 2));
  };
  // By mouse: the number a read left behind is replaced, not added to.
  field_->setText("01");
  clickInto();
  ASSERT_TRUE(edit()->hasFocus());
  EXPECT_EQ(edit()->selectedText(), "01");
  type("45");
  EXPECT_EQ(field_->text(), "45");
  // By keyboard, forwards and backwards.
  neighbour_->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(neighbour_, Qt::Key_Backtab);
  ASSERT_TRUE(edit()->hasFocus());
  type("7");
  EXPECT_EQ(field_->text(), "7");
  // A click into a field that already has the focus only places the cursor.
  QTest::mouseClick(edit(), Qt::LeftButton, {}, QPoint(edit()->width() / 4, edit()->height() / 2));
  EXPECT_FALSE(edit()->hasSelectedText());
  EXPECT_EQ(beeps_, 0);
}

TEST_F(StationNoSpinEditTest, ValueReadsSignedDecimalOrPrefixedHexadecimalElseTheMinimum) {
  const struct {
    const char* text;
    int value;
  } cases[] = {
      {"45", 45},  {"05", 5},    {"+5", 5},         {"-5", -5},         {"150", 150},
      {"$1A", 26}, {"0x1f", 31}, {"0X1F", 31},      {"-$A", -10},       {"2147483647", INT_MAX},
      {"", 1},     {"-", 1},     {"+", 1},          {".", 1},           {"A", 1},
      {"FF", 1},   {"1.5", 1},   {" 5", 1},         {"5 ", 1},          {"$", 1},
      {"0x", 1},   {"$G", 1},    {"2147483648", 1}, {"99999999999", 1}, {"٣", 1},
  };
  for (const auto& c : cases) {
    field_->setText(QString::fromUtf8(c.text));
    EXPECT_EQ(field_->value(), c.value) << "text \"" << c.text << '"';
  }
  field_->setText("-2147483648");
  EXPECT_EQ(field_->value(), INT_MIN);
}

TEST_F(StationNoSpinEditTest, UpAndDownKeysStepWithinTheRangeAndWriteDecimalText) {
  const struct {
    const char* before;
    Qt::Key key;
    const char* after;
  } cases[] = {
      {"98", Qt::Key_Up, "99"}, {"99", Qt::Key_Up, "99"},         {"1", Qt::Key_Down, "1"},
      {"2", Qt::Key_Down, "1"}, {"FF", Qt::Key_Up, "2"},          {"FF", Qt::Key_Down, "1"},
      {"05", Qt::Key_Up, "6"},  {"150", Qt::Key_Down, "99"},      {"-5", Qt::Key_Up, "1"},
      {"$A", Qt::Key_Up, "11"}, {"2147483647", Qt::Key_Up, "99"}, {"-2147483648", Qt::Key_Down, "1"},
  };
  for (const auto& c : cases) {
    field_->setText(c.before);
    QTest::keyClick(edit(), c.key);
    EXPECT_EQ(field_->text(), c.after) << "from \"" << c.before << '"';
  }
  EXPECT_EQ(beeps_, 0);
}

TEST_F(StationNoSpinEditTest, AnArrowButtonStepsAtItsPressAndTakesTheFocusIntoTheField) {
  neighbour_->setFocus(Qt::OtherFocusReason);
  field_->setText("7");
  QToolButton* up = field_->upButton();
  QTest::mousePress(up, Qt::LeftButton, {}, up->rect().center());
  EXPECT_EQ(field_->text(), "8");
  EXPECT_TRUE(edit()->hasFocus());
  QTest::mouseRelease(up, Qt::LeftButton, {}, up->rect().center());
  EXPECT_EQ(field_->text(), "8");
  QTest::mouseClick(field_->downButton(), Qt::LeftButton, {}, field_->downButton()->rect().center());
  QTest::mouseClick(field_->downButton(), Qt::LeftButton, {}, field_->downButton()->rect().center());
  EXPECT_EQ(field_->text(), "6");
}

TEST_F(StationNoSpinEditTest, LeavingForAnotherControlClampsOnlyDecimalTextOutsideTheRange) {
  const struct {
    const char* before;
    const char* after;
  } cases[] = {
      {"150", "99"}, {"0", "1"},   {"-5", "1"},    {"100", "99"}, {"99", "99"}, {"05", "05"},
      {"+5", "+5"},  {"FF", "FF"}, {"$FF", "$FF"}, {"", ""},      {"-", "-"},   {"1.5", "1.5"},
  };
  for (const auto& c : cases) {
    field_->setFocus(Qt::OtherFocusReason);
    field_->setText(c.before);
    QTest::keyClick(edit(), Qt::Key_Tab);
    EXPECT_TRUE(neighbour_->hasFocus());
    EXPECT_EQ(field_->text(), c.after) << "from \"" << c.before << '"';
  }
}

TEST_F(StationNoSpinEditTest, AnotherWindowTakingTheFocusDoesNotClamp) {
  retype("150");
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  EXPECT_EQ(field_->text(), "150");
}

}  // namespace
}  // namespace kkm::ui
