#pragma once

#include <QString>
#include <QStringList>

namespace orv {

// Starts a program that lives on without us, as QProcess::startDetached
// does: in a session of its own and as a child of init, so nothing waits
// for it and no zombie stays behind. It gets only the standard descriptors
// of this process (Qt 6.4's startDetached ignores the child-process
// modifier that would close the others). A program that is not on PATH is
// not started; false then, or when no process could be made.
bool StartDetachedProcess(const QString& AProgram, const QStringList& AArguments, const QString& AWorkingFolder = {});

}  // namespace orv
