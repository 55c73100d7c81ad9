#pragma once

#include <QString>
#include <QStringList>

namespace orv {

// True when the file is a Windows program (it starts with "MZ").
bool IsWindowsProgram(const QString& path);

// The argv that runs the program file with its arguments: the program
// itself, or wine with the program in front of the arguments when it is a
// Windows program and wine is installed. Every child the application starts
// goes through here, so the decision is taken in one place.
QStringList LaunchArgv(const QString& programPath, const QStringList& arguments);

}  // namespace orv
