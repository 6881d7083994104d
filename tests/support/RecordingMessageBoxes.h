#pragma once
// Message boxes for tests: every box is recorded instead of shown, and an
// optional action runs while the "box is open". A question is recorded with
// the Question icon (a warning question with the Warning icon) and answered
// with `answer`. A box's detailed text is kept beside it and compared on its
// own: a box equals another by what it shows.

#include <QString>
#include <functional>
#include <ostream>
#include <vector>

#include "ui/MessageBoxes.h"

// Readable texts in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace kkm::test {

class RecordingMessageBoxes : public ui::MessageBoxes {
 public:
  struct Box {
    QString text;
    QString title;
    Icon icon;  // Question for ask()
    QString details = {};
    bool operator==(const Box& other) const {
      return text == other.text && title == other.title && icon == other.icon;
    }
    friend void PrintTo(const Box& box, std::ostream* os) {
      *os << "{\"" << box.text.toStdString() << "\", \"" << box.title.toStdString() << "\", icon "
          << static_cast<int>(box.icon) << "}";
    }
  };

  void show(const QString& text, const QString& title, Icon icon, const QString& details = {}) override {
    boxes.push_back({text, title, icon, details});
    if (whileOpen) whileOpen();
  }

  bool ask(const QString& text, const QString& title) override { return asked(text, title, Icon::Question); }
  bool askWarning(const QString& text, const QString& title) override {
    return asked(text, title, Icon::Warning);
  }

  bool asked(const QString& text, const QString& title, Icon icon) {
    boxes.push_back({text, title, icon});
    if (whileOpen) whileOpen();
    return answer;
  }

  std::vector<Box> boxes;
  std::function<void()> whileOpen;
  bool answer = true;
};

}  // namespace kkm::test
