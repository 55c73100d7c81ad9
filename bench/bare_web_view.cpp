// The reference of the start-up bench: the least a program can do to show
// a page, one QWebEngineView sent straight to the address given, in a
// window of the application's size.
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

#include <cstdio>

#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: bare_web_view URL\n", stderr);
    return 2;
  }
  // As the application does: Chromium refuses to start its sandbox as root.
  if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QApplication app(argc, argv);
  QWebEngineView view;
  view.resize(1400, 800);
  view.setUrl(QUrl(QString::fromLocal8Bit(argv[1])));
  view.show();
  return QApplication::exec();
}
