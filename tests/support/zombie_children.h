#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <unistd.h>

namespace orv::test {

// Children of this process that ended and were never waited for.
inline int ZombieChildren() {
  int zombies = 0;
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    // "pid (comm) state ppid ...": the name may hold blanks, the rest not.
    const QString text = QString::fromUtf8(stat.readAll());
    const QStringList fields = text.mid(text.lastIndexOf(QLatin1Char(')')) + 2).split(QLatin1Char(' '));
    if (fields.size() > 1 && fields[0] == QLatin1String("Z") && fields[1].toLongLong() == ::getpid()) ++zombies;
  }
  return zombies;
}

}  // namespace orv::test
