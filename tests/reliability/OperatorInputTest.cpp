// Whatever the operator pastes into the number field: the field keeps three
// characters of it, every box shows text as plain text, nothing crashes, and
// nothing but a network number ever reaches the line.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <vector>

#include "sim/cashreg/CashRegister.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/WindowsRig.h"
#include "ui/Application.h"
#include "ui/StationNoSpinEdit.h"

namespace kkm::test {
namespace {

using Icon = ui::MessageBoxes::Icon;

// Pasted texts and what the field keeps of them (three UTF-16 units).
struct Paste {
  QString pasted;
  QString kept;
};

const std::vector<Paste> kHostilePastes{
    {"<b>x</b>", "<b>"},
    {"&lt;b&gt;", "&lt"},
    {"<a href=x>", "<a "},
    {"%s%n%s", "%s%"},
    {"%1%2", "%1%"},
    {"\n\t\r", "\n\t\r"},
    {"1\n2", "1\n2"},
    {"жжжж", "жжж"},
    {"\x01\x1b\x7f", "\x01\x1b\x7f"},
    {QString::fromUtf8("\u202E12"), QString::fromUtf8("\u202E12")},  // right-to-left override
    {QString::fromUtf8("😀"), QString::fromUtf8("😀")},                // one code point, two units
    {QString::fromUtf8("a😀"), QString::fromUtf8("a😀")},
    {QString::fromUtf8("٤٥"), QString::fromUtf8("٤٥")},      // Arabic-Indic digits
    {QString::fromUtf8("４５"), QString::fromUtf8("４５")},  // fullwidth digits
    {"0x45", "0x4"},
    {"45.0", "45."},
};

// What one real message box showed before it was closed.
struct SeenBox {
  QString text;
  QString title;
  QMessageBox::Icon icon;
  Qt::TextFormat format;
  Qt::TextFormat labelFormat;
  QString labelText;
};

// Watches for modal message boxes while it lives, notes what each shows and
// presses its OK button, so that no box is left waiting for an operator.
class BoxCloser {
 public:
  static constexpr int kPollMs = 5;

  BoxCloser() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { closeOpenBox(); });
    timer_.start(kPollMs);
  }
  const std::vector<SeenBox>& seen() const { return seen_; }
  void clear() { seen_.clear(); }

 private:
  void closeOpenBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
    seen_.push_back({box->text(), box->windowTitle(), box->icon(), box->textFormat(),
                     label ? label->textFormat() : Qt::RichText, label ? label->text() : QString()});
    box->button(QMessageBox::Ok)->click();
  }

  QTimer timer_;
  std::vector<SeenBox> seen_;
};

// The field as the operator fills it: emptied, then Ctrl+V.
void PasteIntoField(WindowsRig& rig, const QString& text) {
  QLineEdit* edit = rig.form().stationNoSpinEdit().lineEdit();
  rig.setNumberText(QString());
  QApplication::clipboard()->setText(text);
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
}

TEST(OperatorInput, TheRealBoxesShowAnyTextAsPlainText) {
  ui::QtMessageBoxes boxes;
  BoxCloser closer;
  for (const Icon icon : {Icon::Error, Icon::Warning, Icon::Information}) {
    for (const Paste& p : kHostilePastes) {
      closer.clear();
      boxes.show(p.pasted, kCommandTitle, icon);
      ASSERT_EQ(closer.seen().size(), 1u);
      const SeenBox& seen = closer.seen().front();
      EXPECT_EQ(seen.text, p.pasted);
      EXPECT_EQ(seen.format, Qt::PlainText);
      EXPECT_EQ(seen.labelFormat, Qt::PlainText);
      EXPECT_EQ(seen.labelText, p.pasted);
      EXPECT_EQ(seen.title, kCommandTitle);
    }
  }
}

// The windows with the real message boxes, connected to a register on the
// virtual line.
class PastedNumber : public ::testing::Test {
 protected:
  PastedNumber() {
    platform_.addPort("COM1", line_);
    line_.attach(register_);
  }
  void SetUp() override { ASSERT_TRUE(rig_.connect(ui::Link::Processor)); }

  std::size_t hostBytes() const { return line_.traceOf(sim::Direction::HostToDevice).size(); }

  sim::VirtualLine line_;
  sim::VirtualPlatform platform_{line_};
  sim::CashRegister register_{1};
  ui::QtMessageBoxes boxes_;
  BoxCloser closer_;  // before the windows: no box may wait for an operator
  WindowsRig rig_{platform_, boxes_};
};

TEST_F(PastedNumber, IsShownAsPlainTextAndNothingReachesTheLine) {
  const auto data = register_.dataMemory();
  const auto nonVolatile = register_.nonVolatile();
  const QString status = rig_.statusText();
  for (const Paste& p : kHostilePastes) {
    SCOPED_TRACE(p.pasted.toStdString());
    closer_.clear();
    PasteIntoField(rig_, p.pasted);
    EXPECT_EQ(rig_.numberText(), p.kept) << "the field keeps three characters";

    const std::size_t sent = hostBytes();
    rig_.pressWrite();
    EXPECT_EQ(hostBytes(), sent) << "not a byte after the press";
    ASSERT_EQ(closer_.seen().size(), 1u);
    const SeenBox& seen = closer_.seen().front();
    EXPECT_EQ(seen.text, "'$" + p.kept + "' is not a valid integer value.");
    EXPECT_EQ(seen.title, ui::kApplicationTitle);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.labelFormat, Qt::PlainText);
    EXPECT_TRUE(rig_.commandsEnabled());
    EXPECT_EQ(rig_.statusText(), status);
  }
  EXPECT_EQ(register_.dataMemory(), data);
  EXPECT_EQ(register_.nonVolatile(), nonVolatile);
  EXPECT_EQ(register_.log().size(), 1u) << "only the connection's version query";
}

TEST_F(PastedNumber, HexadecimalTextOutsideOneToNinetyNineGetsThePlainWarningAndSendsNothing) {
  for (const QString pasted : {"FFFF", "abcd", "1000", "000"}) {
    SCOPED_TRACE(pasted.toStdString());
    closer_.clear();
    PasteIntoField(rig_, pasted);
    const std::size_t sent = hostBytes();
    rig_.pressWrite();
    EXPECT_EQ(hostBytes(), sent);
    ASSERT_EQ(closer_.seen().size(), 1u);
    EXPECT_EQ(closer_.seen().front().icon, QMessageBox::Warning);
    EXPECT_EQ(closer_.seen().front().title, kCommandTitle);
    EXPECT_EQ(closer_.seen().front().labelFormat, Qt::PlainText);
    EXPECT_TRUE(rig_.commandsEnabled());
  }
}

// Two texts the operator can paste that the error box does not show as the
// field holds them: a NUL character ends the box's text there ("'$" is all
// that is left), and the three-unit cut splits the second of two emoji, so
// the field holds half a character and the box a "?". Enable with
// --gtest_also_run_disabled_tests once the error keeps its whole text and the
// field cuts between characters.
TEST_F(PastedNumber, NulAndSplitCharactersReachTheBoxWhole) {
  const QString withNul = QString(QChar(0)) + "ab";
  PasteIntoField(rig_, withNul);
  rig_.pressWrite();
  ASSERT_EQ(closer_.seen().size(), 1u);
  EXPECT_EQ(closer_.seen().front().text, "'$" + withNul + "' is not a valid integer value.");

  closer_.clear();
  PasteIntoField(rig_, QString::fromUtf8("😀😀"));
  EXPECT_EQ(rig_.numberText(), QString::fromUtf8("😀")) << "no half character in the field";
  rig_.pressWrite();
  ASSERT_EQ(closer_.seen().size(), 1u);
  EXPECT_EQ(closer_.seen().front().text, "'$" + rig_.numberText() + "' is not a valid integer value.");
}

}  // namespace
}  // namespace kkm::test
