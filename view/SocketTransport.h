// The link's transport over a QTcpSocket: one object per connection attempt.
// Received bytes go straight to the link; the socket's errors become the
// link's abstract socket errors.
#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QTcpSocket>
#include <functional>

#include "link/LinkTransport.h"
#include "link/PhoneLink.h"

namespace velarix {

SocketError ToSocketError(QAbstractSocket::SocketError error);

class SocketTransport final : public QObject, public ILinkTransport {
    Q_OBJECT
public:
    // `onConnectDone(error)` runs once, when the relay has accepted
    // (SocketError::None) or the attempt failed.
    SocketTransport(CRelayLink& link, std::function<void(SocketError)> onConnectDone,
                    QObject* parent = nullptr);
    ~SocketTransport() override;

    void ConnectTo(quint16 port);
    bool IsConnected() const { return connected_; }

    long Send(Bytes bytes) override;
    void Close() override;

private:
    void OnReadyRead();
    void OnDisconnected();
    void OnError(QAbstractSocket::SocketError error);
    void Detach();

    CRelayLink& link_;
    std::function<void(SocketError)> onConnectDone_;
    QTcpSocket* socket_;  // owned through the QObject tree
    bool connected_ = false;
    bool closedByUs_ = false;
};

}  // namespace velarix
