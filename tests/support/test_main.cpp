// The main of every GoogleTest suite. One QApplication exists before any
// test runs: widgets, dialogs, timers and posted work need it, and the rest
// does not mind it. Suites run on the offscreen platform unless
// QT_QPA_PLATFORM names another (the engine suite runs on Xvfb).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef ORV_TEST_ENGINE
  // The engine shares its OpenGL contexts with the widgets; Qt takes this
  // only before the application exists.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#endif
  // Qt first: it takes its own options (-platform ...) out of argv.
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
