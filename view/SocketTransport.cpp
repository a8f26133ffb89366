#include "view/SocketTransport.h"

#include <QHostAddress>

namespace velarix {

SocketError ToSocketError(QAbstractSocket::SocketError error) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return SocketError::ConnectionRefused;
        case QAbstractSocket::NetworkError:
            return SocketError::NetworkUnreachable;
        case QAbstractSocket::RemoteHostClosedError:
            return SocketError::ConnectionAborted;
        default:
            return SocketError::Other;
    }
}

SocketTransport::SocketTransport(CRelayLink& link, std::function<void(SocketError)> onConnectDone,
                                 QObject* parent)
    : QObject(parent),
      link_(link),
      onConnectDone_(std::move(onConnectDone)),
      socket_(new QTcpSocket(this)) {
    connect(socket_, &QTcpSocket::connected, this, [this] {
        connected_ = true;
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (auto done = std::exchange(onConnectDone_, nullptr)) done(SocketError::None);
    });
    connect(socket_, &QTcpSocket::readyRead, this, &SocketTransport::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &SocketTransport::OnDisconnected);
    connect(socket_, &QTcpSocket::errorOccurred, this, &SocketTransport::OnError);
}

SocketTransport::~SocketTransport() {
    Detach();
}

void SocketTransport::Detach() {
    socket_->disconnect(this);
    onConnectDone_ = nullptr;
}

void SocketTransport::ConnectTo(quint16 port) {
    socket_->connectToHost(QHostAddress(QHostAddress::LocalHost), port);
}

long SocketTransport::Send(Bytes bytes) {
    if (closedByUs_ || socket_->state() != QAbstractSocket::ConnectedState) return -1;
    const qint64 n = socket_->write(reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<qint64>(bytes.size()));
    // Messages go out at once, so a reply is on the wire before the next
    // message is handled.
    if (n > 0) socket_->flush();
    return static_cast<long>(n);
}

void SocketTransport::Close() {
    if (closedByUs_) return;
    closedByUs_ = true;
    Detach();
    socket_->abort();
}

void SocketTransport::OnReadyRead() {
    while (!closedByUs_ && socket_->bytesAvailable() > 0) {
        const QByteArray data = socket_->read(64 * 1024);
        if (data.isEmpty()) break;
        link_.OnReceive(Bytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                              static_cast<std::size_t>(data.size())));
    }
}

void SocketTransport::OnDisconnected() {
    if (closedByUs_) return;
    closedByUs_ = true;
    Detach();
    link_.OnClose(SocketError::ConnectionAborted);
}

void SocketTransport::OnError(QAbstractSocket::SocketError error) {
    if (closedByUs_) return;
    if (!connected_) {
        closedByUs_ = true;
        if (auto done = std::exchange(onConnectDone_, nullptr)) done(ToSocketError(error));
        Detach();
        return;
    }
    // The peer closing is reported by disconnected(); other errors end the
    // connection here.
    if (error == QAbstractSocket::RemoteHostClosedError) return;
    closedByUs_ = true;
    Detach();
    link_.OnClose(ToSocketError(error));
}

}  // namespace velarix
