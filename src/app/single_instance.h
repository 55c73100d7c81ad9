#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

namespace orv {

// One running program per engine data folder: the engine's profile cannot
// be shared by two processes. The first program listens on a local socket
// named after the folder; a second one finds it, asks it to show its
// window, and ends.
class SingleInstance final : public QObject {
public:
  // AKey names what may be used by one program at a time (the engine's
  // data folder). The socket lives in the user's private runtime folder.
  explicit SingleInstance(const QString& AKey);
  ~SingleInstance() override;

  // True when another program holds the key; it has been asked to show
  // its window.
  bool ActivateRunning();
  // Becomes the program that holds the key; AActivate runs whenever a
  // later program asks for the window.
  void Listen(std::function<void()> AActivate);
  const QString& SocketPath() const { return FName; }

private:
  QString FName;  // the socket's path
  QLocalServer* FServer = nullptr;
  std::function<void()> FActivate;
};

}  // namespace orv
