#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orv::testing_support {

// A temporary folder holding small executable shell scripts that the
// tests run as real child processes.
class ChildScripts {
public:
  ChildScripts() { EXPECT_TRUE(dir_.isValid()); }

  QString Dir() const { return dir_.path(); }
  QString Path(const QString& name) const { return dir_.filePath(name); }

  // Writes an executable /bin/sh script and returns its path.
  QString Write(const QString& name, const QByteArray& body) const {
    return WriteFile(name, "#!/bin/sh\n" + body + "\n", true);
  }

  QString WriteFile(const QString& name, const QByteArray& content, bool executable = false) const {
    const QString path = Path(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();
    if (executable) file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
  }

  // The command line that runs a script, as the Windows rules quote it.
  static QString Quoted(const QString& path) { return u'"' + path + u'"'; }

private:
  QTemporaryDir dir_;
};

}  // namespace orv::testing_support
