// The link to the phone server: receive buffering, the sync search, framing
// and dispatch of phone messages, frame decoding into the view's screen, and
// every PC-to-phone message.
//
// Socket-free: the socket adapter hands received bytes to OnReceive() and
// reports connects and closes; the link sends through an ILinkTransport that
// the adapter attaches for the life of one connection. Everything runs on one
// thread. Failures are results: a failed send, a framing error or a bad frame
// resets the sync (and the view shows its disconnected page), never throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "link/LinkTransport.h"
#include "link/LinkView.h"
#include "link/PhoneMessages.h"
#include "link/Protocol.h"

namespace velarix {

class CPhoneLink {
public:
    CPhoneLink();
    virtual ~CPhoneLink();
    CPhoneLink(const CPhoneLink&) = delete;
    CPhoneLink& operator=(const CPhoneLink&) = delete;

    // The view is not owned; null detaches it. A view must detach itself
    // before it goes away.
    void SetView(ILinkView* view) { view_ = view; }
    ILinkView* View() const { return view_; }

    // A new connection is up: `transport` (not owned) carries it until the
    // link closes it or the peer does. Bytes left over from an earlier
    // connection are dropped, so they can never be read as the new stream.
    void AttachTransport(ILinkTransport& transport);
    bool IsOpen() const { return transport_ != nullptr; }
    // Counts the connections attached so far: a sync with the same number
    // is a re-sync of the same connection.
    std::uint32_t Connection() const { return connection_; }

    // Received bytes, as the socket adapter read them. An empty block means
    // the socket reported data but had none: the peer has closed.
    //
    // `workBudget` bounds what one call does, counted in message bytes taken
    // plus frame bytes inflated and screen bytes decoded: a few hundred bytes
    // of compressed frames can make a megabyte of work. Once it is spent the
    // link stops between two messages and keeps the rest, Behind() turns
    // true, and ContinueInput() goes on from there (in a later turn of the
    // caller's loop). At least one message is handled per call.
    void OnReceive(Bytes data, std::size_t workBudget = kNoWorkLimit);
    // Goes on with input left by a spent budget; nothing when not Behind().
    void ContinueInput(std::size_t workBudget = kNoWorkLimit);
    // Whole messages may be waiting because a budget ran out.
    bool Behind() const { return behind_; }
    static constexpr std::size_t kNoWorkLimit = static_cast<std::size_t>(-1);
    // A read on the socket failed.
    void OnReceiveFailed();
    // The peer closed the connection (or the socket layer did).
    virtual void OnClose(SocketError error);
    // The PC closes the connection.
    virtual void Close();

    // Sends one block completely. A failed send resets the sync, closes the
    // connection and returns false; without a connection nothing is sent.
    virtual bool SendAll(Bytes bytes);
    // Sends Hello once per attempt (again after ResetSync cleared the flag).
    void SendHello(bool force);
    void ResetSync();

    bool SendKey(std::uint32_t code, KeyAction action);
    bool SendChar(std::uint16_t code);
    bool SendOptions(int compression, int interlaced, int colorMode, int jpegQuality, int priority,
                     int timerDiv);
    bool SendOptions(const PhoneOptions& options);
    bool SendPointer(PointerAction action, std::uint16_t x, std::uint16_t y);
    bool SendText(std::string_view text);
    bool SendPhoneClipboard(std::string_view text);
    bool RequestPhoneClipboard();
    bool SendBye();

    bool Synced() const { return synced_; }
    bool HelloSent() const { return helloSent_; }
    bool FlipClosed() const { return flipClosed_; }
    std::uint32_t StatusValue() const { return statusValue_; }
    std::uint32_t StatusWord() const { return statusWord_; }
    std::uint32_t LastFrameValue() const { return lastFrameValue_; }
    // Received bytes not yet consumed.
    std::size_t RxCount() const { return rx_.size() - rxStart_; }

protected:
    // Consumes received bytes: the sync search until the pattern is found,
    // then whole messages.
    virtual void ProcessInput();
    // One phone message; `message` starts at the type byte (length - 4 bytes).
    void Dispatch(Bytes message);
    // Drops the connection without touching the connection state the
    // subclass keeps; used by Close() and by the peer's close.
    void DropTransport();

private:
    bool SearchSync();
    void ProcessMessages();
    void RunInput(std::size_t workBudget);
    // Adds to the work done in this call.
    void CountWork(std::size_t bytes) { workDone_ += bytes; }
    // True (and the link behind) once this call's budget is spent.
    bool BudgetSpent();
    // What a sync counts for against the budget.
    static constexpr std::size_t kSyncWork = 16 * 1024;

    void DecodeFrameMessage(PhoneMsg type, Bytes payload);
    void DecodeFrameRecord(Bytes record);
    void DecodeJpegFrame(Bytes payload);

    ILinkView* view_ = nullptr;
    ILinkTransport* transport_ = nullptr;

    // Unconsumed input is rx_[rxStart_ ..). Consumed bytes are only moved out
    // when new data arrives, so a burst of messages costs one move, not one
    // per message.
    std::vector<std::uint8_t> rx_;
    std::size_t rxStart_ = 0;
    // While unsynced: how many unconsumed bytes are known not to start the
    // sync pattern.
    std::size_t syncSearched_ = 0;
    // Bytes that arrive while a message is being dispatched wait here, so the
    // message being handled never moves under its handler.
    std::vector<std::uint8_t> pending_;
    bool processing_ = false;
    // The budget of the current call, and the work done so far in it.
    std::size_t workBudget_ = kNoWorkLimit;
    std::size_t workDone_ = 0;
    bool behind_ = false;

    // Output of uncompress for one frame record; allocated at the first
    // compressed record, then reused.
    std::unique_ptr<std::uint8_t[]> inflateBuffer_;

    bool synced_ = false;
    bool helloSent_ = false;
    std::uint32_t connection_ = 0;
    bool flipClosed_ = false;
    std::uint32_t statusValue_ = 0;
    std::uint32_t statusWord_ = 0;
    std::uint32_t lastFrameValue_ = 0;
};

// The link to the phone through the local relay, with the connection state
// that the status page turns into a hint.
class CRelayLink : public CPhoneLink {
public:
    // 0 connected or closed by the PC, or a synced link closed by the peer;
    // 1 attempt started, refused, or an unsynced link aborted;
    // 2 network unreachable or down; 3 any other connect error.
    int ConnectState() const { return connectState_; }
    // A connection attempt starts.
    void BeginAttempt() { connectState_ = 1; }

    // The socket's connect notification.
    void OnConnect(SocketError error);
    void OnClose(SocketError error) override;
    void Close() override;

private:
    int connectState_ = 0;
};

}  // namespace velarix
