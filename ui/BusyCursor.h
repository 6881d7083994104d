#pragma once
// The wait cursor over the whole application while a command blocks. A
// BusyCursor made while the cursor is not up sets it; it goes when that one
// ends or when a box is about to open (BusyCursor::end()), whichever comes
// first, so the operator never reads a box under a wait cursor. One made
// while the cursor is up changes nothing; one made after a box took it away
// (the exchanges that follow an answer) sets it again.

namespace kkm::ui {

class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

  // Takes the wait cursor away now, if a BusyCursor set it.
  static void end();
  // Whether the wait cursor is up.
  static bool shown();

 private:
  bool owner_ = false;
};

}  // namespace kkm::ui
