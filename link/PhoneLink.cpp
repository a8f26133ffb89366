#include "link/PhoneLink.h"

#include <algorithm>
#include <cstring>

namespace velarix {

CPhoneLink::CPhoneLink() = default;

CPhoneLink::~CPhoneLink() {
    // The view may be half gone by now; it hears nothing more from us.
    view_ = nullptr;
    if (synced_) SendBye();
    synced_ = false;
    helloSent_ = false;
    DropTransport();
}

void CPhoneLink::AttachTransport(ILinkTransport& transport) {
    // A new connection starts unsynced, whatever the last one left behind.
    if (synced_ || helloSent_) ResetSync();
    transport_ = &transport;
    ++connection_;
    rx_.clear();
    rxStart_ = 0;
    syncSearched_ = 0;
    pending_.clear();
    behind_ = false;
}

void CPhoneLink::DropTransport() {
    ILinkTransport* transport = transport_;
    transport_ = nullptr;
    // Whatever is left belongs to the closed connection. While a message is
    // being dispatched its bytes must stay put; RunInput drops them after.
    pending_.clear();
    if (!processing_) {
        rx_.clear();
        rxStart_ = 0;
        syncSearched_ = 0;
    }
    behind_ = false;
    if (transport) transport->Close();
}

void CPhoneLink::Close() {
    // A closed link is no longer in step with anything: the next connection
    // must send Hello and search for the sync pattern again.
    if (synced_ || helloSent_) ResetSync();
    DropTransport();
}

void CPhoneLink::OnClose(SocketError /*error*/) {
    ResetSync();
    DropTransport();
    if (view_) view_->RefreshStatusPage();
}

void CPhoneLink::OnReceive(Bytes data, std::size_t workBudget) {
    if (!transport_) return;
    if (data.empty()) {
        ResetSync();
        Close();
        return;
    }
    if (processing_) {
        pending_.insert(pending_.end(), data.begin(), data.end());
        return;
    }
    if (rxStart_ > 0) {
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(rxStart_));
        rxStart_ = 0;
    }
    rx_.insert(rx_.end(), data.begin(), data.end());
    RunInput(workBudget);
}

void CPhoneLink::ContinueInput(std::size_t workBudget) {
    if (!transport_ || processing_ || !behind_) return;
    RunInput(workBudget);
}

void CPhoneLink::OnReceiveFailed() {
    if (!transport_) return;
    ResetSync();
    Close();
}

void CPhoneLink::RunInput(std::size_t workBudget) {
    processing_ = true;
    workBudget_ = workBudget;
    workDone_ = 0;
    behind_ = false;
    for (;;) {
        ProcessInput();
        if (!transport_ || pending_.empty()) break;
        rx_.insert(rx_.end(), pending_.begin(), pending_.end());
        pending_.clear();
        if (behind_) break;
    }
    processing_ = false;
    if (!transport_) {
        behind_ = false;
        rx_.clear();
        rxStart_ = 0;
        syncSearched_ = 0;
        pending_.clear();
    }
}

bool CPhoneLink::SendAll(Bytes bytes) {
    while (!bytes.empty()) {
        if (!transport_) return false;
        const long sent = transport_->Send(bytes);
        if (sent < 1) {
            ResetSync();
            Close();
            return false;
        }
        bytes = bytes.subspan(std::min(bytes.size(), static_cast<std::size_t>(sent)));
    }
    return true;
}

void CPhoneLink::SendHello(bool force) {
    if (helloSent_ && !force) return;
    const auto hello = EncodeHello();
    if (SendAll(hello)) helloSent_ = true;
}

void CPhoneLink::ResetSync() {
    synced_ = false;
    helloSent_ = false;
    syncSearched_ = 0;
    if (view_) view_->OnLinkLost(*this);
}

bool CPhoneLink::SendKey(std::uint32_t code, KeyAction action) {
    return SendAll(EncodeKey(code, action));
}

bool CPhoneLink::SendChar(std::uint16_t code) {
    return SendAll(EncodeChar(code));
}

bool CPhoneLink::SendOptions(int compression, int interlaced, int colorMode, int jpegQuality,
                             int priority, int timerDiv) {
    return SendOptions(
        PhoneOptions{compression, interlaced, colorMode, jpegQuality, priority, timerDiv});
}

bool CPhoneLink::SendOptions(const PhoneOptions& options) {
    return SendAll(EncodeOptions(options));
}

bool CPhoneLink::SendPointer(PointerAction action, std::uint16_t x, std::uint16_t y) {
    return SendAll(EncodePointer(action, x, y));
}

bool CPhoneLink::SendText(std::string_view text) {
    return SendAll(EncodeText(PcMsg::TypeText, text));
}

bool CPhoneLink::SendPhoneClipboard(std::string_view text) {
    return SendAll(EncodeText(PcMsg::SetPhoneClipboard, text));
}

bool CPhoneLink::RequestPhoneClipboard() {
    return SendAll(EncodeGetPhoneClipboard());
}

bool CPhoneLink::SendBye() {
    return SendAll(EncodeBye());
}

void CPhoneLink::ProcessInput() {
    // A message that loses the sync is left where it is and the search goes
    // on over what follows it at once. Waiting for more data instead would
    // let a stream of sync patterns, each followed by a bad message, grow the
    // buffer without bound, and would leave a pattern already received
    // unseen until the phone sends something else. Every round either
    // consumes a pattern or ends the pass, so the loop ends.
    while (transport_) {
        if (!synced_ && (BudgetSpent() || !SearchSync())) return;
        ProcessMessages();
        if (synced_) return;
    }
}

// Looks for the sync pattern in the unconsumed input. Returns true once the
// link is synced and the pattern consumed, so messages after it in the same
// read are handled at once.
bool CPhoneLink::SearchSync() {
    // Input that arrives a few bytes at a time is searched once, not again
    // with every read: only a pattern that began in the last few bytes
    // already searched can have been completed by the new ones.
    const std::size_t count = RxCount();
    const std::uint8_t* begin = rx_.data() + rxStart_ + std::min(syncSearched_, count);
    const std::uint8_t* end = rx_.data() + rx_.size();
    const std::uint8_t* found = std::search(begin, end, kSyncPattern.begin(), kSyncPattern.end());
    if (found == end) {
        constexpr std::size_t kPartial = kSyncPattern.size() - 1;
        syncSearched_ = count > kPartial ? count - kPartial : 0;
        SendHello(false);
        if (!transport_) return false;
        // Drop only the older half, so a partial pattern at the end survives.
        if (count >= kSyncKeepLimit) {
            rxStart_ += count / 2;
            syncSearched_ -= std::min(syncSearched_, count / 2);
        }
        return false;
    }
    syncSearched_ = 0;
    // A sync costs the view a new screen and three sends.
    CountWork(kSyncWork);
    const std::size_t patternEnd =
        static_cast<std::size_t>(found - rx_.data()) + kSyncPattern.size();

    flipClosed_ = false;
    SendHello(false);
    if (!transport_) return false;
    synced_ = true;
    if (view_) view_->OnLinkSynced(*this);  // the view sends Options here
    if (!transport_) return false;
    if (synced_) SendAll(EncodeSyncAck());
    if (!transport_) return false;
    rxStart_ = patternEnd;
    lastFrameValue_ = 0;
    return synced_;
}

bool CPhoneLink::BudgetSpent() {
    // Something is done in every call, so input always moves on.
    if (workDone_ == 0 || workDone_ < workBudget_) return false;
    behind_ = true;
    return true;
}

void CPhoneLink::ProcessMessages() {
    while (transport_ && synced_ && RxCount() > 4) {
        const std::uint8_t* msg = rx_.data() + rxStart_;
        const std::uint32_t length = ReadBe32(msg);
        if (length > kMaxMessageLength || length < kMinMessageLength) {
            // Out of step: search for the sync pattern again on the next data.
            ResetSync();
            return;
        }
        if (length > RxCount()) return;
        if (BudgetSpent()) return;
        CountWork(length);
        Dispatch(Bytes(msg + 4, length - 4));
        if (!transport_ || !synced_) return;
        rxStart_ += length;
    }
}

void CPhoneLink::Dispatch(Bytes message) {
    if (message.empty()) return;
    const auto type = static_cast<PhoneMsg>(message[0]);
    const Bytes payload = message.subspan(1);
    switch (type) {
        case PhoneMsg::FrameRaw:
        case PhoneMsg::FrameZlib:
        case PhoneMsg::FrameJpeg:
            DecodeFrameMessage(type, payload);
            break;
        case PhoneMsg::Ping:
            SendAll(EncodePingReply());
            break;
        case PhoneMsg::ClipboardText: {
            if (payload.size() < 2) break;
            // A length beyond the message copies only the bytes present, and
            // the text ends at its first zero byte.
            const std::size_t n =
                std::min<std::size_t>(ReadBe16(payload.data()), payload.size() - 2);
            Bytes text = payload.subspan(2, n);
            const auto zero = std::find(text.begin(), text.end(), std::uint8_t{0});
            text = text.first(static_cast<std::size_t>(zero - text.begin()));
            if (view_) view_->OnPhoneClipboardText(text);
            break;
        }
        case PhoneMsg::StatusValue:
            if (payload.size() < 4) break;
            statusValue_ = ReadBe32(payload.data());
            if (view_) view_->OnPhoneStatusValue(statusValue_);
            break;
        case PhoneMsg::StatusWord:
            if (payload.size() < 4) break;
            statusWord_ = ReadBe32(payload.data());
            if (view_) view_->OnPhoneStatusWord(statusWord_);
            break;
        case PhoneMsg::PhoneEvent:
            if (payload.empty()) break;
            if (view_) view_->OnPhoneEvent(payload[0]);
            break;
        case PhoneMsg::Bye:
            // A bare Bye ends the connection (closing resets the sync); one
            // with a payload only the sync.
            if (payload.empty())
                Close();
            else
                ResetSync();
            break;
        default:
            break;
    }
}

void CRelayLink::OnConnect(SocketError error) {
    switch (error) {
        case SocketError::None:
            SendHello(false);
            connectState_ = 0;
            break;
        case SocketError::NetworkUnreachable:
            connectState_ = 2;
            break;
        case SocketError::ConnectionRefused:
            connectState_ = 1;
            break;
        default:
            connectState_ = 3;
            break;
    }
}

void CRelayLink::OnClose(SocketError error) {
    if (Synced()) {
        connectState_ = 0;
    } else if (error == SocketError::NetworkDown) {
        connectState_ = 2;
    } else if (error == SocketError::ConnectionAborted) {
        connectState_ = 1;
    }
    CPhoneLink::OnClose(error);
}

void CRelayLink::Close() {
    connectState_ = 0;
    CPhoneLink::Close();
}

}  // namespace velarix
