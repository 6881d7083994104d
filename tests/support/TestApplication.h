#pragma once
// The one application object of a test binary that drives the windows, made
// by the main() in WindowsTestMain.cpp, and where the boxes it shows itself
// (an error escaping an event handler) go. A box nobody routed is recorded
// and fails the binary at its end.

#include "ui/Application.h"
#include "ui/MessageBoxes.h"

namespace kkm::test {

ui::Application& App();

// While it lives, the application object's boxes go to `boxes`; the route
// before it is restored at its end, so routes nest.
class RouteAppBoxes {
 public:
  explicit RouteAppBoxes(ui::MessageBoxes& boxes);
  ~RouteAppBoxes();
  RouteAppBoxes(const RouteAppBoxes&) = delete;
  RouteAppBoxes& operator=(const RouteAppBoxes&) = delete;

 private:
  ui::MessageBoxes* previous_;
};

}  // namespace kkm::test
