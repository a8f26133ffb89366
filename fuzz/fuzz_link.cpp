// The link fed arbitrary streams in arbitrary reads, together with what else
// happens to a connection: sends that fail or go out in pieces, closes from
// either side, reconnects, the view coming and going, the PC sending its own
// messages, and input or closes that arrive while the link is busy sending.
// The input layout is in LinkFuzzInput.h.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "FuzzChecks.h"
#include "LinkDoubles.h"
#include "LinkFuzzInput.h"
#include "link/PhoneLink.h"

namespace {

using namespace velarix;
using namespace velarix::fuzz;
using test::RecordingTransport;
using test::RecordingView;

// Bounds on the work one input can ask for, so every run stays quick.
constexpr std::size_t kMaxReads = 8192;
constexpr std::size_t kMaxBytesFed = std::size_t{8} << 20;

// How much unconsumed input the link may hold after a delivery. The sync
// search keeps fewer than kSyncKeepLimit bytes or the newer half of what it
// holds, and the message loop keeps less than one whole message, so the
// buffer should never exceed one largest message plus the largest single
// delivery, plus the search's slack. A phone that keeps sending must not be
// able to make the viewer keep ever more of its stream.
std::size_t RxBound(std::size_t largestDelivery) {
    return kMaxMessageLength + largestDelivery + kSyncKeepLimit;
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Done() const { return pos_ >= size_; }
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t Be16() {
        const auto hi = Byte();
        return static_cast<std::uint16_t>((hi << 8) | Byte());
    }
    Bytes Take(std::size_t n) {
        n = std::min(n, size_ - pos_);
        const Bytes out(data_ + pos_, n);
        pos_ += n;
        return out;
    }
    // The next step when it is a read, for input that arrives while the link is busy.
    std::optional<Bytes> TakeRead() {
        if (Done()) return std::nullopt;
        const std::uint8_t step = data_[pos_];
        if (step < kShortReadLimit) {
            ++pos_;
            return Take(std::size_t{step} + 1);
        }
        if (step == kLongRead) {
            ++pos_;
            return Take(std::size_t{Be16()} + 1);
        }
        return std::nullopt;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class Harness;

// The recording transport under a socket whose blocking send may run the
// event loop: when armed, the next send first lets the harness deliver more
// input or a close to the link, then goes out as the recording transport says.
class PumpingTransport final : public ILinkTransport {
public:
    explicit PumpingTransport(Harness& harness) : harness_(harness) {}
    long Send(Bytes bytes) override;
    void Close() override { inner.Close(); }

    RecordingTransport inner;
    std::optional<std::uint8_t> pump;

private:
    Harness& harness_;
};

class Harness {
public:
    Harness(const std::uint8_t* data, std::size_t size, RecordingView& view)
        : in_(data, size), transport_(*this), view_(view) {
        view_.Reset();
        config_ = in_.Byte();
        static constexpr std::size_t kFirstPartialSends[] = {0, 1, 3, 7};
        transport_.inner.maxChunk = kFirstPartialSends[config_ >> 6];
        transport_.inner.recordCalls = false;
        view_.onSynced = [this](CPhoneLink& link) { OnSynced(link); };
        link_ = std::make_unique<CRelayLink>();
        link_->SetView(&view_);
        Connect((config_ & kConnectNotified) != 0);
    }

    void Run() {
        while (!in_.Done()) {
            delivered_ = 0;
            RunStep();
            AfterStep();
        }
        CheckPixels(view_.screen);
        // The link says Bye on its way out, without a word to the view.
        transport_.pump.reset();
        link_.reset();
        FUZZ_CHECK(view_.events.empty());
        pc_.Add(transport_.inner.TakeSent());
    }

    // Input or a close arriving while the link is busy sending.
    void Pump(std::uint8_t what) {
        switch (what % 4) {
            case 0:
                if (auto read = in_.TakeRead()) Deliver(*read);
                break;
            case 1:
                link_->OnReceive({});
                break;
            case 2:
                link_->OnClose(SocketError::ConnectionAborted);
                break;
            default:
                link_->OnReceiveFailed();
                break;
        }
    }

private:
    void OnSynced(CPhoneLink& link) {
        if (config_ & kSyncSendsOptions) link.SendOptions(PhoneOptions{});
        if (config_ & kSyncFailsSends) transport_.inner.failSends = true;
        if (config_ & kSyncFeedsNextRead) {
            if (auto read = in_.TakeRead()) Deliver(*read);
        }
        if (config_ & kSyncDetachesView) link.SetView(nullptr);
        if (config_ & kSyncClosesLink) link.Close();
    }

    void Connect(bool notify) {
        // A fresh socket: whatever the previous one did wrong is gone.
        transport_.inner.failSends = false;
        pc_.Start(link_->HelloSent());
        closesAtAttach_ = transport_.inner.closes;
        attached_ = true;
        link_->AttachTransport(transport_);
        link_->BeginAttempt();
        if (notify) link_->OnConnect(SocketError::None);
    }

    // Hands one read to the link, within the bounds on work. A read that ran
    // out of input is skipped: an empty read would mean the peer closed.
    void Deliver(Bytes read) {
        if (read.empty() || reads_ >= kMaxReads || bytesFed_ + read.size() > kMaxBytesFed) return;
        ++reads_;
        bytesFed_ += read.size();
        delivered_ += read.size();
        link_->OnReceive(read);
    }

    // One read from the step loop, with the check on buffered input after it.
    void TopLevelRead(Bytes read) {
        delivered_ = 0;
        Deliver(read);
        CheckBuffered();
    }

    void CheckBuffered() {
        largestDelivery_ = std::max(largestDelivery_, delivered_);
        FUZZ_CHECK(link_->RxCount() <= RxBound(largestDelivery_));
    }

    void RunStep() {
        const std::uint8_t step = in_.Byte();
        if (step < kShortReadLimit) {
            lastRead_ = in_.Take(std::size_t{step} + 1);
            TopLevelRead(lastRead_);
            return;
        }
        switch (static_cast<LinkStep>(step)) {
            case kLongRead:
                lastRead_ = in_.Take(std::size_t{in_.Be16()} + 1);
                TopLevelRead(lastRead_);
                break;
            case kRepeatRead: {
                const std::size_t times = std::size_t{in_.Be16()} + 1;
                for (std::size_t i = 0; i < times && reads_ < kMaxReads; ++i) {
                    TopLevelRead(lastRead_);
                    AfterStep();
                }
                break;
            }
            case kPartialSends:
                transport_.inner.maxChunk = in_.Byte();
                break;
            case kToggleFailSends:
                transport_.inner.failSends = !transport_.inner.failSends;
                break;
            case kDetachView:
                link_->SetView(nullptr);
                break;
            case kAttachView:
                link_->SetView(&view_);
                break;
            case kEmptyRead:
                link_->OnReceive({});
                break;
            case kReadFailed:
                link_->OnReceiveFailed();
                break;
            case kPeerClose:
                link_->OnClose(static_cast<SocketError>(in_.Byte() % 6));
                break;
            case kReconnect: {
                const bool notify = (in_.Byte() & 1) != 0;
                // The socket layer reports the old connection gone before the new one.
                if (link_->IsOpen()) link_->OnClose(SocketError::Other);
                pc_.Add(transport_.inner.TakeSent());
                Connect(notify);
                break;
            }
            case kPcSends:
                PcSends();
                break;
            case kResizeScreen: {
                const std::size_t size = kScreenPixels * in_.Byte() / 255;
                view_.screen.assign(size, kWhite);
                break;
            }
            case kResetSync:
                link_->ResetSync();
                break;
            case kPcCloses:
                link_->Close();
                break;
            case kPumpOnSend:
                transport_.pump = in_.Byte();
                break;
            case kRecreateLink: {
                // The view is told nothing by a link going away.
                const std::size_t events = view_.events.size();
                transport_.pump.reset();
                link_.reset();
                FUZZ_CHECK(view_.events.size() == events);
                link_ = std::make_unique<CRelayLink>();
                link_->SetView(&view_);
                pc_.Add(transport_.inner.TakeSent());
                attached_ = false;
                break;
            }
        }
    }

    void PcSends() {
        const std::uint8_t which = in_.Byte();
        const std::uint8_t arg = in_.Byte();
        switch (which % 10) {
            case 0:
                link_->SendKey(in_.Byte(), static_cast<KeyAction>(arg % 3));
                break;
            case 1:
                link_->SendChar(in_.Be16());
                break;
            case 2: {
                const auto x = in_.Be16();
                link_->SendPointer(static_cast<PointerAction>(arg % 3), x, in_.Be16());
                break;
            }
            case 3:
            case 4: {
                const Bytes text = in_.Take(arg);
                const std::string_view s(reinterpret_cast<const char*>(text.data()), text.size());
                if (which % 10 == 3) {
                    link_->SendText(s);
                } else {
                    link_->SendPhoneClipboard(s);
                }
                break;
            }
            case 5:
                link_->RequestPhoneClipboard();
                break;
            case 6:
                link_->SendBye();
                break;
            case 7: {
                PhoneOptions options;
                options.compression = arg;
                options.interlaced = in_.Byte();
                options.colorMode = in_.Byte();
                options.jpegQuality = in_.Byte();
                options.priority = in_.Byte();
                options.timerDiv = in_.Byte();
                link_->SendOptions(options);
                break;
            }
            default:
                link_->SendHello((arg & 1) != 0);
                break;
        }
    }

    void AfterStep() {
        CheckBuffered();
        CRelayLink& link = *link_;
        const bool open = link.IsOpen();
        // A closed connection keeps nothing of its stream.
        FUZZ_CHECK(open || link.RxCount() == 0);
        FUZZ_CHECK(link.ConnectState() >= 0 && link.ConnectState() <= 3);
        // The link only syncs after its Hello went out.
        FUZZ_CHECK(!link.Synced() || link.HelloSent());
        // The transport of a connection is closed once, when the link lets go of it.
        if (attached_) {
            FUZZ_CHECK(transport_.inner.closes == closesAtAttach_ + (open ? 0 : 1));
        }

        pc_.Add(transport_.inner.TakeSent());
        pc_.CheckWhole(open);

        CheckRepaints(view_.repaints);
        view_.repaints.clear();
        view_.events.clear();
        view_.clipboard.clear();
        view_.statusValues.clear();
        view_.statusWords.clear();
        view_.phoneEvents.clear();
    }

    Input in_;
    std::uint8_t config_ = 0;
    PumpingTransport transport_;
    RecordingView& view_;
    std::unique_ptr<CRelayLink> link_;
    PcStreamChecker pc_;

    Bytes lastRead_;
    std::size_t reads_ = 0;
    std::size_t bytesFed_ = 0;
    std::size_t delivered_ = 0;  // in the current step, including input that arrived meanwhile
    std::size_t largestDelivery_ = 0;
    int closesAtAttach_ = 0;
    bool attached_ = false;
};

long PumpingTransport::Send(Bytes bytes) {
    if (pump) {
        const std::uint8_t what = *pump;
        pump.reset();
        harness_.Pump(what);
    }
    return inner.Send(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One view for every input: allocating its screen anew each time cost
    // more than the link's own work.
    static RecordingView view;
    Harness harness(data, size, view);
    harness.Run();
    return 0;
}
