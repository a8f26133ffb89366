#include "view/SocketTransport.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>

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
    socket_->setReadBufferSize(kReadBufferSize);
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
    // Bytes that arrive while the link is behind wait for the queued turn.
    if (!feedQueued_) FeedLink();
}

void SocketTransport::FeedLink() {
    feedQueued_ = false;
    QElapsedTimer clock;
    clock.start();
    qint64 handed = 0;
    while (!closedByUs_) {
        if (link_.Behind()) {
            link_.ContinueInput(kWorkPerCall);
        } else {
            if (handed >= kBytesPerTurn || socket_->bytesAvailable() <= 0) break;
            const QByteArray data = socket_->read(kBytesPerTurn - handed);
            if (data.isEmpty()) break;
            handed += data.size();
            link_.OnReceive(Bytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                  static_cast<std::size_t>(data.size())),
                            kWorkPerCall);
        }
        if (clock.elapsed() >= kMsPerTurn) break;
    }
    if (closedByUs_) return;
    if (link_.Behind() || socket_->bytesAvailable() > 0) {
        feedQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            if (feedQueued_) FeedLink();
        });
        return;
    }
    if (peerClosed_) {
        closedByUs_ = true;
        Detach();
        link_.OnClose(SocketError::ConnectionAborted);
    }
}

void SocketTransport::OnDisconnected() {
    if (closedByUs_) return;
    // What the phone sent before it closed is handled first, in turns as
    // ever; the link hears of the close after the last of it.
    peerClosed_ = true;
    if (!feedQueued_) FeedLink();
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
