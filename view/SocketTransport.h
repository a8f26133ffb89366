// The link's transport over a QTcpSocket: one object per connection attempt.
// Received bytes go to the link in portions that fit a turn of the event
// loop; the socket's errors become the link's abstract socket errors.
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

    // What one turn of the event loop gives the link: received bytes handed
    // over, and time. While the link is behind nothing more is read, so the
    // socket's buffer fills and TCP holds the phone back.
    static constexpr qint64 kBytesPerTurn = 64 * 1024;
    static constexpr qint64 kMsPerTurn = 5;
    // What one call into the link may do (see CPhoneLink::OnReceive): about
    // one frame of a full screen, so the turn's clock is looked at often.
    static constexpr std::size_t kWorkPerCall = 256 * 1024;
    // Received bytes Qt holds for us; beyond it the kernel holds them.
    static constexpr qint64 kReadBufferSize = 64 * 1024;

    long Send(Bytes bytes) override;
    void Close() override;

private:
    void OnReadyRead();
    // Feeds the link for one turn of the event loop: until its work is done
    // or the turn's budget of bytes or time is spent; then the rest waits
    // for the next turn.
    void FeedLink();
    void OnDisconnected();
    void OnError(QAbstractSocket::SocketError error);
    void Detach();

    CRelayLink& link_;
    std::function<void(SocketError)> onConnectDone_;
    QTcpSocket* socket_;  // owned through the QObject tree
    bool connected_ = false;
    bool closedByUs_ = false;
    bool feedQueued_ = false;  // a FeedLink is waiting for the next turn
    bool peerClosed_ = false;  // the close reaches the link once it has the rest
};

}  // namespace velarix
