#pragma once
// Message boxes for tests: every box is recorded instead of shown, and an
// optional action runs while the "box is open".

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
    Icon icon;
    bool operator==(const Box&) const = default;
    friend void PrintTo(const Box& box, std::ostream* os) {
      *os << "{\"" << box.text.toStdString() << "\", \"" << box.title.toStdString() << "\", icon "
          << static_cast<int>(box.icon) << "}";
    }
  };

  void show(const QString& text, const QString& title, Icon icon) override {
    boxes.push_back({text, title, icon});
    if (whileOpen) whileOpen();
  }

  std::vector<Box> boxes;
  std::function<void()> whileOpen;
};

}  // namespace kkm::test
