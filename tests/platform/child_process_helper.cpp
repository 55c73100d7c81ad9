// The other end of child_process_test: a program the facility starts.
//
//   child_process_helper report FILE [ARG...]
//     writes what it was started with to FILE (through FILE.part, so the
//     file appears complete): its arguments, working folder, open
//     descriptors, blocked and ignored signals, ids and $ORV_PROBE.
//   child_process_helper hold captured|waited PROGRAM [ARG...]
//     plays the application: starts PROGRAM the given way and waits for
//     it; the test kills it the hard way, as a crash would.
#include "platform/child_process.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdio>

#include <unistd.h>

namespace {

QByteArray StatusLine(const QByteArray& status, const QByteArray& name) {
  for (const QByteArray& line : status.split('\n'))
    if (line.startsWith(QByteArray(name + ':'))) return line.mid(name.size() + 1).trimmed();
  return {};
}

int Report(const QString& file, const QStringList& arguments) {
  QByteArray text;
  for (const QString& argument : arguments) text += "arg [" + argument.toUtf8() + "]\n";
  text += "cwd " + QFile::encodeName(QDir::currentPath()) + '\n';
  // Asked one by one, as listing the folder would open a descriptor.
  for (int fd = 0; fd < 1024; ++fd) {
    char target[4096];
    const ssize_t length =
        ::readlink(QStringLiteral("/proc/self/fd/%1").arg(fd).toLatin1().constData(), target, sizeof target);
    if (length >= 0) text += "fd " + QByteArray::number(fd) + ' ' + QByteArray(target, length) + '\n';
  }
  QFile status(QStringLiteral("/proc/self/status"));
  const QByteArray statusText = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
  text += "sigblk " + StatusLine(statusText, "SigBlk") + '\n';
  text += "sigign " + StatusLine(statusText, "SigIgn") + '\n';
  text += QStringLiteral("pid %1\nppid %2\npgid %3\nsid %4\n")
              .arg(::getpid())
              .arg(::getppid())
              .arg(::getpgrp())
              .arg(::getsid(0))
              .toUtf8();
  text += "probe " + (qEnvironmentVariableIsSet("ORV_PROBE") ? qgetenv("ORV_PROBE") : QByteArray("(unset)")) + '\n';

  QFile out(file + QStringLiteral(".part"));
  if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size()) return 1;
  out.close();
  return QFile::rename(out.fileName(), file) ? 0 : 1;
}

int Hold(const QString& kind, const QString& program, const QStringList& arguments) {
  std::printf("holder %d\n", static_cast<int>(::getpid()));
  std::fflush(stdout);
  const orv::ChildCommand command{program, arguments, {}, std::nullopt};
  if (kind == QLatin1String("waited")) return orv::RunWaited(command, [] {}).code;
  orv::CapturedChild child(command);
  if (child.StartError()) return 1;
  char buffer[4096];
  for (bool ended = false;;) {
    while (const std::size_t got = child.Read(buffer, sizeof buffer)) std::fwrite(buffer, 1, got, stdout);
    std::fflush(stdout);
    if (ended) break;
    ended = child.WaitForEnd(1000);
  }
  return child.Wait().code;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  if (arguments.size() >= 2 && arguments[0] == QLatin1String("report")) return Report(arguments[1], arguments.mid(2));
  if (arguments.size() >= 3 && arguments[0] == QLatin1String("hold"))
    return Hold(arguments[1], arguments[2], arguments.mid(3));
  std::fprintf(stderr, "usage: child_process_helper report FILE [ARG...] | hold captured|waited PROGRAM [ARG...]\n");
  return 2;
}
