#pragma once

// The start and end every benchmark of the real engine shares: one
// application, the engine as the browser component's service, and the
// benchmarks' engines released before the service goes.
#include "ui/qt_web_browser.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <functional>

namespace orv::bench {

inline int RunEngineBenchmarks(int argc, char** argv, const std::function<void()>& AReleaseEngines = {}) {
  // Chromium refuses to start its sandbox as root.
  if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  RegisterQtWebBrowserService(nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (AReleaseEngines) AReleaseEngines();
  UnregisterQtWebBrowserService();
  return 0;
}

}  // namespace orv::bench
