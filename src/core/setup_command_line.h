#pragma once

#include <QString>

#include <optional>

namespace orv {

// Command lines for product setups and uninstallers. A folder is spliced
// between double quotes; a folder that could end those quotes early (a
// double quote in it, or a backslash right before the closing quote, which
// the Windows argument rules read as an escaped quote) is refused with
// nullopt rather than altered. No Windows path contains a double quote.

// The switches for a setup: the install folder and the silent switches when
// silent, nothing otherwise (the setup then asks the user).
std::optional<QString> SetupParameters(const QString& AInstallFolder, bool ASilent);

// The switches for an uninstaller.
QString UninstallParameters(bool ASilent);

// The cmd.exe parameter line that runs AFile from AFolder and waits for it:
// /C cd "<folder>" && start /wait <file> <parameters>. The folder keeps its
// trailing backslash: cmd.exe gives backslashes no meaning.
std::optional<QString> ElevatedCommandLine(const QString& AFolder, const QString& AFile, const QString& AParameters);

}  // namespace orv
