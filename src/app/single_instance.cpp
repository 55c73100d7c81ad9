#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <sys/socket.h>
#include <unistd.h>

#include <optional>

namespace orv {

namespace {

constexpr int kAnswerMs = 2000;
const QByteArray kActivate = QByteArrayLiteral("activate\n");

// In the user's private runtime folder ($XDG_RUNTIME_DIR, or one Qt makes
// private to the user): another user can neither plant a socket there nor
// answer in place of the program.
QString socketName(const QString& AKey) {
  const QString name = QStringLiteral("orv-dashboard-%1")
                           .arg(QString::fromLatin1(
                               QCryptographicHash::hash(AKey.toUtf8(), QCryptographicHash::Sha256).toHex().left(16)));
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return folder.isEmpty() ? name + QLatin1Char('-') + QString::number(::getuid()) : folder + QLatin1Char('/') + name;
}

// The user of the process listening at the socket's other end.
std::optional<uid_t> peerUser(const QLocalSocket& ASocket) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(static_cast<int>(ASocket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
    return std::nullopt;
  return credentials.uid;
}

}  // namespace

SingleInstance::SingleInstance(const QString& AKey) : FName(socketName(AKey)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::ActivateRunning() {
  QLocalSocket socket;
  socket.connectToServer(FName);
  if (!socket.waitForConnected(kAnswerMs)) return false;
  // Only a program of this user is asked; any other listener is ignored
  // and replaced when this program listens.
  if (peerUser(socket) != ::getuid()) {
    qWarning("Another user's program listens at %s; starting anyway", qPrintable(FName));
    return false;
  }
  socket.write(kActivate);
  socket.waitForBytesWritten(kAnswerMs);
  socket.disconnectFromServer();
  return true;
}

void SingleInstance::Listen(std::function<void()> AActivate) {
  FActivate = std::move(AActivate);
  FServer = new QLocalServer(this);
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  // Nobody of this user answered on the name: a socket file left by a
  // program that crashed, or planted by someone else, is removed.
  if (!FServer->listen(FName)) {
    QLocalServer::removeServer(FName);
    if (!FServer->listen(FName)) {
      qWarning("Cannot watch for a second start (%s)", qPrintable(FServer->errorString()));
      return;
    }
  }
  connect(FServer, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (socket->readAll().startsWith(kActivate.trimmed()) && FActivate) FActivate();
        socket->disconnectFromServer();
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
}

}  // namespace orv
