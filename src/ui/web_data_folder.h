#pragma once

#include <QString>

namespace orv {

// The engine data folder of a backend: AddBackslash(cacheFolder) + name, or
// the program's file name without extension when the name is empty. A name
// that is not one plain folder name ("..", "a/b") falls back the same way,
// so clearing the cache can never reach outside the cache folder.
QString FullDataFolderName(const QString& ACacheFolder, const QString& ACacheFolderName);

// Which backend has claimed which data folder (process-wide, UI thread).
// A backend that clears its cache claims the folder; another backend's
// claim keeps the folder from being deleted.
namespace CachedFolders {
void Claim(const QString& AFolder, const void* AInstance);
bool ClaimedByOther(const QString& AFolder, const void* AInstance);
// Removes the instance's newest claim.
void ReleaseLast(const void* AInstance);
// Removes every claim of an instance that goes away.
void ReleaseAll(const void* AInstance);
}  // namespace CachedFolders

// Deletes AFolder with its contents, retrying up to 50 times 1 ms apart
// while the engine still holds files; entries that cannot be deleted stay.
// Then removes ACacheFolder if it is empty. True when AFolder is gone.
bool DeleteDataFolder(const QString& AFolder, const QString& ACacheFolder);

}  // namespace orv
