// One application object for every test of a binary that drives the windows,
// on the offscreen platform unless the environment chooses another.

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>

#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/TestApplication.h"

namespace kkm::test {

namespace {

// The application object's boxes: passed on to the routed ones.
class RoutedBoxes : public ui::MessageBoxes {
 public:
  void show(const QString& text, const QString& title, Icon icon) override {
    target->show(text, title, icon);
  }
  bool ask(const QString& text, const QString& title) override { return target->ask(text, title); }
  ui::MessageBoxes* target = nullptr;
};

RoutedBoxes& AppBoxes() {
  static RoutedBoxes boxes;
  return boxes;
}

}  // namespace

ui::Application& App() { return static_cast<ui::Application&>(*QApplication::instance()); }

RouteAppBoxes::RouteAppBoxes(ui::MessageBoxes& boxes) : previous_(AppBoxes().target) {
  AppBoxes().target = &boxes;
}

RouteAppBoxes::~RouteAppBoxes() { AppBoxes().target = previous_; }

}  // namespace kkm::test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  kkm::test::RecordingMessageBoxes unexpectedBoxes;
  const kkm::test::RouteAppBoxes unrouted(unexpectedBoxes);
  kkm::ui::Application app(argc, argv, kkm::test::AppBoxes());
  const int result = RUN_ALL_TESTS();
  if (!unexpectedBoxes.boxes.empty()) {
    ADD_FAILURE() << "message boxes shown outside any test's recorder";
    return 1;
  }
  return result;
}
