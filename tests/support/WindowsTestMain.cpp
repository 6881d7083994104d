// One application object for every test of a binary that drives the windows,
// on the offscreen platform unless the environment chooses another.

#include <gtest/gtest.h>

#include <QByteArray>

#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/TestApplication.h"

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
