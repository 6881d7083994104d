#pragma once
// The one application object of a test binary that drives the windows (made
// by WindowsTestMain.cpp), and where the boxes it shows itself go (an error
// escaping an event handler): to the boxes of the RouteAppBoxes that lives,
// the route before it coming back at its end, so routes nest.

#include <QApplication>
#include <utility>

#include "ui/Application.h"
#include "ui/MessageBoxes.h"

namespace kkm::test {

inline ui::Application& App() { return static_cast<ui::Application&>(*QApplication::instance()); }

// The application object's boxes: each box is passed on to `to`.
struct RoutedBoxes : ui::MessageBoxes {
  void show(const QString& text, const QString& title, Icon icon, const QString& details) override {
    to->show(text, title, icon, details);
  }
  bool ask(const QString& text, const QString& title) override { return to->ask(text, title); }
  bool askWarning(const QString& text, const QString& title) override { return to->askWarning(text, title); }
  ui::MessageBoxes* to = nullptr;
};
inline RoutedBoxes& AppBoxes() {
  static RoutedBoxes boxes;
  return boxes;
}

class RouteAppBoxes {
 public:
  explicit RouteAppBoxes(ui::MessageBoxes& boxes) : previous_(std::exchange(AppBoxes().to, &boxes)) {}
  ~RouteAppBoxes() { AppBoxes().to = previous_; }
  RouteAppBoxes(const RouteAppBoxes&) = delete;
  RouteAppBoxes& operator=(const RouteAppBoxes&) = delete;

 private:
  ui::MessageBoxes* previous_;
};

}  // namespace kkm::test
