#pragma once
// The running copy's side of the single-instance endpoint (see shell/InstanceProtocol.h).

#include <QHash>
#include <QObject>
#include <functional>

class QLocalServer;
class QLocalSocket;

class InstanceServer : public QObject {
    Q_OBJECT

public:
    // Receives a copy-data message; its result is the answer (1 in this program).
    using CopyDataHandler = std::function<int(quint32 kind, const QByteArray& data)>;

    explicit InstanceServer(CopyDataHandler onCopyData, QObject* parent = nullptr);
    // Starts listening; a socket file left by a copy that died is replaced.
    bool Listen(const QString& endpointPath);
    QString ErrorText() const;

signals:
    void ActivateRequested();

private:
    void Accept();
    void Consume(QLocalSocket* socket);
    // Bytes of a complete request at the buffer's start: 0 = incomplete, -1 = malformed.
    static qsizetype RequestLength(const QByteArray& buffer);

    CopyDataHandler OnCopyData;
    QLocalServer* Server;
    QHash<QLocalSocket*, QByteArray> Pending;
};
