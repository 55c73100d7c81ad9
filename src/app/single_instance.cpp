#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace orv {

namespace {

constexpr int kAnswerMs = 2000;
const QByteArray kActivate = QByteArrayLiteral("activate\n");

}  // namespace

SingleInstance::SingleInstance(const QString& AKey)
    : FName(QStringLiteral("orv-dashboard-%1-%2")
                .arg(QString::number(::getuid()),
                     QString::fromLatin1(
                         QCryptographicHash::hash(AKey.toUtf8(), QCryptographicHash::Sha256).toHex().left(16)))) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::ActivateRunning() {
  QLocalSocket socket;
  socket.connectToServer(FName);
  if (!socket.waitForConnected(kAnswerMs)) return false;
  socket.write(kActivate);
  socket.waitForBytesWritten(kAnswerMs);
  socket.disconnectFromServer();
  return true;
}

void SingleInstance::Listen(std::function<void()> AActivate) {
  FActivate = std::move(AActivate);
  FServer = new QLocalServer(this);
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  // Nobody answered on the name: a socket file left by a program that
  // crashed is removed.
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
