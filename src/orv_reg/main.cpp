#include "orv_reg/orv_reg.h"

#include "platform/registry_hive.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  return orv::RunOrvReg(app.arguments().mid(1), orv::RegistryHive::DefaultFileName(), stdout, stderr);
}
