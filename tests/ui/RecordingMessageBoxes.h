#pragma once
// Message boxes for tests: every box is recorded instead of shown, and an
// optional action runs while the "box is open".

#include <QString>
#include <functional>
#include <vector>

#include "ui/MessageBoxes.h"

namespace kkm::test {

class RecordingMessageBoxes : public ui::MessageBoxes {
 public:
  struct Box {
    QString text;
    QString title;
    Icon icon;
    bool operator==(const Box&) const = default;
  };

  void show(const QString& text, const QString& title, Icon icon) override {
    boxes.push_back({text, title, icon});
    if (whileOpen) whileOpen();
  }

  std::vector<Box> boxes;
  std::function<void()> whileOpen;
};

}  // namespace kkm::test
