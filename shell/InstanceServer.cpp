#include "shell/InstanceServer.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QtEndian>

#include "shell/InstanceProtocol.h"

namespace {
constexpr qsizetype CopyDataHeaderBytes = 1 + 4 + 4;

quint32 U32At(const QByteArray& b, qsizetype at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}
}  // namespace

InstanceServer::InstanceServer(CopyDataHandler onCopyData, QObject* parent)
    : QObject(parent), OnCopyData(std::move(onCopyData)), Server(new QLocalServer(this)) {
    connect(Server, &QLocalServer::newConnection, this, &InstanceServer::Accept);
}

bool InstanceServer::Listen(const QString& endpointPath) {
    Server->setSocketOptions(QLocalServer::UserAccessOption);
    if (Server->listen(endpointPath)) return true;
    // Nobody answered there before we got here: what is left is a dead copy's socket file.
    QLocalServer::removeServer(endpointPath);
    return Server->listen(endpointPath);
}

QString InstanceServer::ErrorText() const {
    return Server->errorString();
}

void InstanceServer::Accept() {
    while (QLocalSocket* socket = Server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Consume(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            Pending.remove(socket);
            socket->deleteLater();
        });
        Consume(socket);
    }
}

qsizetype InstanceServer::RequestLength(const QByteArray& b) {
    if (b.isEmpty()) return 0;
    if (static_cast<quint8>(b[0]) == instance::RequestActivate) return 1;
    if (static_cast<quint8>(b[0]) != instance::RequestCopyData) return -1;
    if (b.size() < CopyDataHeaderBytes) return 0;
    const quint32 length = U32At(b, 5);
    if (length > instance::MaxCopyDataBytes) return -1;
    const qsizetype total = CopyDataHeaderBytes + static_cast<qsizetype>(length);
    return b.size() >= total ? total : 0;
}

void InstanceServer::Consume(QLocalSocket* socket) {
    QByteArray& buffer = Pending[socket];
    buffer += socket->readAll();
    for (;;) {
        const qsizetype length = RequestLength(buffer);
        if (length < 0) {
            socket->abort();  // not our protocol: drop the connection
            return;
        }
        if (length == 0) return;
        int answer = instance::Answer;
        if (static_cast<quint8>(buffer[0]) == instance::RequestActivate)
            emit ActivateRequested();
        else
            answer = OnCopyData(U32At(buffer, 1),
                                buffer.mid(CopyDataHeaderBytes, length - CopyDataHeaderBytes));
        buffer.remove(0, length);
        QByteArray reply(4, '\0');
        qToLittleEndian<qint32>(answer, reply.data());
        socket->write(reply);
        socket->flush();
    }
}
