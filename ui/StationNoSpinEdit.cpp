#include "ui/StationNoSpinEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "ui/Fonts.h"

namespace kkm::ui {

namespace {

constexpr int kArrowButtonWidth = 15;
constexpr int kFrameWidth = 2;

struct ReadInteger {
  std::int64_t value;
  bool hexadecimal;
};

// An optional sign, then "$" or "0x"/"0X" and hexadecimal digits, or decimal
// digits; nothing else. Values beyond a 32-bit integer do not read.
std::optional<ReadInteger> ReadFieldInteger(const QString& text) {
  qsizetype at = 0;
  const bool negative = text.startsWith(u'-');
  if (negative || text.startsWith(u'+')) ++at;

  bool hexadecimal = false;
  if (text.mid(at, 1) == u"$") {
    hexadecimal = true;
    at += 1;
  } else if (text.mid(at, 2).compare(u"0x", Qt::CaseInsensitive) == 0) {
    hexadecimal = true;
    at += 2;
  }

  const QStringView digits = QStringView(text).mid(at);
  if (digits.isEmpty()) return std::nullopt;
  const int base = hexadecimal ? 16 : 10;
  std::int64_t magnitude = 0;
  for (const QChar c : digits) {
    // QChar::digitValue() also knows non-ASCII digits; only ASCII ones count here.
    const char ascii = c.toLatin1();
    int digit = -1;
    if (ascii >= '0' && ascii <= '9') digit = ascii - '0';
    if (hexadecimal && ascii >= 'a' && ascii <= 'f') digit = ascii - 'a' + 10;
    if (hexadecimal && ascii >= 'A' && ascii <= 'F') digit = ascii - 'A' + 10;
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * base + digit;
    if (magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return ReadInteger{value, hexadecimal};
}

int ClampToRange(std::int64_t value) {
  return static_cast<int>(
      std::clamp<std::int64_t>(value, TStationNoSpinEdit::kMinValue, TStationNoSpinEdit::kMaxValue));
}

// Characters the operator may type: digits, signs, the decimal separator and
// control characters other than Enter.
bool IsTypeable(QChar c) {
  if (c == u'\r' || c == u'\n') return false;
  if (c.category() == QChar::Other_Control) return true;
  if ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-') return true;
  return QLocale().decimalPoint() == QString(c);
}

}  // namespace

TStationNoSpinEdit::TStationNoSpinEdit(QWidget* parent)
    : QWidget(parent),
      edit_(new QLineEdit(this)),
      up_(new QToolButton(edit_)),
      down_(new QToolButton(edit_)),
      beep_([] { QApplication::beep(); }) {
  // 1. The edit box takes the keyboard focus for the whole widget.
  edit_->setObjectName("StationNoEdit");
  edit_->setFont(DefaultFont());
  // The limit applies to the operator's edits only: a longer text from the
  // program widens it until edits have shortened the text again.
  connect(edit_, &QLineEdit::textEdited, this, [this](const QString& edited) {
    const int limit = std::max(kMaxLength, static_cast<int>(edited.size()));
    if (edit_->maxLength() > limit) edit_->setMaxLength(limit);
    // The length limit counts UTF-16 units, so a paste cut at the limit can
    // end in half a character: drop it.
    if (!edited.isEmpty() && edited.back().isHighSurrogate()) {
      const int cursor = edit_->cursorPosition();
      edit_->setText(edited.chopped(1));
      edit_->setCursorPosition(std::min(cursor, static_cast<int>(edited.size()) - 1));
    }
  });
  edit_->setTextMargins(0, 0, kArrowButtonWidth, 0);
  edit_->installEventFilter(this);
  setFocusProxy(edit_);

  // 2. The arrow buttons sit inside the edit box's frame and never take the
  // focus themselves; a press (and each auto-repeat) moves the focus into the
  // field and steps at once.
  const auto configureArrow = [this](QToolButton* button, Qt::ArrowType arrow, const char* name, int step) {
    button->setObjectName(name);
    button->setArrowType(arrow);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRepeat(true);
    button->setAutoRepeatDelay(kRepeatDelayMs);
    button->setAutoRepeatInterval(kRepeatIntervalMs);
    button->setCursor(Qt::ArrowCursor);
    connect(button, &QToolButton::pressed, this, [this, step] {
      edit_->setFocus(Qt::OtherFocusReason);
      stepBy(step);
    });
  };
  configureArrow(up_, Qt::UpArrow, "UpButton", +1);
  configureArrow(down_, Qt::DownArrow, "DownButton", -1);

  setText(QString::number(kMinValue));
}

QString TStationNoSpinEdit::text() const { return edit_->text(); }

void TStationNoSpinEdit::setText(const QString& text) {
  edit_->setMaxLength(std::max(kMaxLength, static_cast<int>(text.size())));
  edit_->setText(text);
}

int TStationNoSpinEdit::value() const {
  const auto read = ReadFieldInteger(text());
  return read ? static_cast<int>(read->value) : kMinValue;
}

void TStationNoSpinEdit::stepBy(int steps) {
  setText(QString::number(ClampToRange(std::int64_t{value()} + steps)));
}

void TStationNoSpinEdit::setBeep(std::function<void()> beep) { beep_ = std::move(beep); }

bool TStationNoSpinEdit::handleKey(const QKeyEvent& key) {
  // 1. Up and Down step the value.
  if (key.key() == Qt::Key_Up || key.key() == Qt::Key_Down) {
    stepBy(key.key() == Qt::Key_Up ? +1 : -1);
    return true;
  }
  // 2. Ctrl and Ctrl+Shift combinations are control characters (Ctrl+V pastes).
  const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
  if (modifiers == Qt::ControlModifier || modifiers == (Qt::ControlModifier | Qt::ShiftModifier))
    return false;
  // 3. Enter, and any character outside the typing set, is refused with a beep.
  const QString typed = key.text();
  const bool enter = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
  if (enter || !std::all_of(typed.begin(), typed.end(), IsTypeable)) {
    if (beep_) beep_();
    return true;
  }
  // 4. A character that would not fit (the field is full and nothing is
  // selected to replace) is refused with a beep as well.
  const bool printable =
      std::none_of(typed.begin(), typed.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
  if (!typed.isEmpty() && printable && !edit_->hasSelectedText() &&
      edit_->text().size() >= edit_->maxLength()) {
    if (beep_) beep_();
    return true;
  }
  // 5. Everything else is the edit box's own business.
  return false;
}

void TStationNoSpinEdit::clampDecimalText() {
  const auto read = ReadFieldInteger(text());
  if (!read || read->hexadecimal) return;
  const int clamped = ClampToRange(read->value);
  if (clamped != read->value) setText(QString::number(clamped));
}

bool TStationNoSpinEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_) {
    if (event->type() == QEvent::KeyPress) return handleKey(static_cast<const QKeyEvent&>(*event));
    if (event->type() == QEvent::FocusIn) {
      // Taking the focus by keyboard selects the whole text at once; by mouse,
      // once the click has placed the cursor (unless the click dragged a
      // selection of its own). Typing then replaces the number.
      const Qt::FocusReason reason = static_cast<const QFocusEvent*>(event)->reason();
      if (reason == Qt::MouseFocusReason) selectOnRelease_ = true;
      if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
          reason == Qt::ShortcutFocusReason)
        edit_->selectAll();
    }
    if (event->type() == QEvent::MouseButtonRelease && selectOnRelease_) {
      selectOnRelease_ = false;
      if (!edit_->hasSelectedText()) edit_->selectAll();
    }
    if (event->type() == QEvent::FocusOut) {
      // Only a move to another control clamps: the window losing activation
      // (a dialog, another application) or a context menu does not.
      const Qt::FocusReason reason = static_cast<const QFocusEvent*>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) clampDecimalText();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TStationNoSpinEdit::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  edit_->setGeometry(rect());
  const int buttonHeight = (height() - 2 * kFrameWidth) / 2;
  const int buttonLeft = width() - kFrameWidth - kArrowButtonWidth;
  up_->setGeometry(buttonLeft, kFrameWidth, kArrowButtonWidth, buttonHeight);
  down_->setGeometry(buttonLeft, kFrameWidth + buttonHeight, kArrowButtonWidth,
                     height() - 2 * kFrameWidth - buttonHeight);
}

}  // namespace kkm::ui
