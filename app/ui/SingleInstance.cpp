#include "app/ui/SingleInstance.h"

#include <unistd.h>

#include <QLocalSocket>
#include <thread>

namespace {

constexpr int kConnectTimeoutMs = 2000;

bool Send(const std::vector<uint32_t>& requests) {
    QLocalSocket socket;
    socket.connectToServer(CSingleInstance::ServerName());
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        return false;
    }
    QByteArray bytes;
    for (uint32_t request : requests) {
        bytes += QByteArray::number(request, 16) + '\n';
    }
    socket.write(bytes);
    socket.flush();
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

}  // namespace

QString CSingleInstance::ServerName() {
    return QStringLiteral("Orvanta-%1").arg(::getuid());
}

std::vector<uint32_t> CSingleInstance::RequestsOf(const QStringList& arguments) {
    std::vector<uint32_t> requests;
    for (QString argument : arguments) {
        if (argument.isEmpty()) {
            continue;
        }
        if (argument.startsWith(u'-')) {
            argument[0] = u'/';
        }
        if (argument.compare(QStringLiteral("/schedule"), Qt::CaseInsensitive) == 0) {
            requests.push_back(kScheduleRequest);
        } else if (argument.compare(QStringLiteral("/epg"), Qt::CaseInsensitive) == 0) {
            requests.push_back(kEpgRequest);
        }
    }
    if (requests.empty()) {
        requests.push_back(kOtherRequest);
    }
    return requests;
}

bool CSingleInstance::Listen(std::function<void(uint32_t message)> handler) {
    onRequest = std::move(handler);
    if (!server.listen(ServerName())) {
        // A socket left by an instance that crashed answers nobody: take its place.
        QLocalSocket probe;
        probe.connectToServer(ServerName());
        if (probe.waitForConnected(kConnectTimeoutMs)) {
            return false;
        }
        QLocalServer::removeServer(ServerName());
        if (!server.listen(ServerName())) {
            return false;
        }
    }
    connect(&server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    bool ok = false;
                    const uint32_t message = socket->readLine().trimmed().toUInt(&ok, 16);
                    if (ok && onRequest) {
                        onRequest(message);
                    }
                }
            });
        }
    });
    return true;
}

bool CSingleInstance::Forward(const std::vector<uint32_t>& requests,
                              std::chrono::milliseconds repeatDelay) {
    // Each request twice, the delay apart, before the next one.
    bool answered = false;
    for (uint32_t request : requests) {
        answered = Send({request}) || answered;
        if (request == kOtherRequest) {
            continue;
        }
        std::this_thread::sleep_for(repeatDelay);
        answered = Send({request}) || answered;
    }
    return answered;
}
