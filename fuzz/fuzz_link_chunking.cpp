// How the socket happens to cut the stream into reads must not change what
// the link makes of it. The same stream goes to three links: in one read, in
// reads of sizes taken from the input, and one byte at a time; the views, the
// screens and what the PC sent must come out the same.
//
// Input: byte 0 holds the number of read sizes less one (bits 0-2), the
// chunked link's partial-send size (bits 3-5) and its work budget per call
// (bits 6-7: none, 1, 4096 or 300000); then one byte per read size (size =
// byte + 1, used in turn); the rest is the stream. A link left behind by its
// budget catches up before every other read, and after the last.
//
// A lost sync does not change that: the link searches the rest of the read at
// once, so the cut matters nowhere.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzChecks.h"
#include "LinkDoubles.h"
#include "link/PhoneLink.h"

namespace {

using namespace velarix;
using namespace velarix::fuzz;
using test::RecordingTransport;
using test::RecordingView;

struct Side {
    Side(std::size_t partialSends, RecordingView& v) : view(v) {
        view.Reset();
        transport.maxChunk = partialSends;
        transport.recordCalls = false;
        view.onSynced = [](CPhoneLink& l) { l.SendOptions(PhoneOptions{}); };
        link.SetView(&view);
        link.AttachTransport(transport);
    }

    void Feed(Bytes read, std::size_t budget = CPhoneLink::kNoWorkLimit) {
        link.OnReceive(read, budget);
    }
    void CatchUp(std::size_t budget) {
        while (link.Behind()) link.ContinueInput(budget);
    }

    RecordingTransport transport;
    RecordingView& view;
    CRelayLink link;
};

void CheckSame(const Side& a, const Side& b) {
    FUZZ_CHECK(a.transport.sent == b.transport.sent);
    FUZZ_CHECK(a.transport.closes == b.transport.closes);
    FUZZ_CHECK(a.view.events == b.view.events);
    FUZZ_CHECK(a.view.repaints == b.view.repaints);
    FUZZ_CHECK(a.view.clipboard == b.view.clipboard);
    FUZZ_CHECK(a.view.statusValues == b.view.statusValues);
    FUZZ_CHECK(a.view.statusWords == b.view.statusWords);
    FUZZ_CHECK(a.view.phoneEvents == b.view.phoneEvents);
    FUZZ_CHECK(a.view.setScreenSizeCalls == b.view.setScreenSizeCalls);
    FUZZ_CHECK(a.view.screen == b.view.screen);
    FUZZ_CHECK(a.link.Synced() == b.link.Synced());
    FUZZ_CHECK(a.link.HelloSent() == b.link.HelloSent());
    FUZZ_CHECK(a.link.IsOpen() == b.link.IsOpen());
    FUZZ_CHECK(a.link.FlipClosed() == b.link.FlipClosed());
    FUZZ_CHECK(a.link.StatusValue() == b.link.StatusValue());
    FUZZ_CHECK(a.link.StatusWord() == b.link.StatusWord());
    FUZZ_CHECK(a.link.LastFrameValue() == b.link.LastFrameValue());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t count = std::size_t{data[0] & 7u} + 1;
    const std::size_t partialSends = (data[0] >> 3) & 7u;
    constexpr std::size_t kBudgets[] = {CPhoneLink::kNoWorkLimit, 1, 4096, 300000};
    const std::size_t budget = kBudgets[data[0] >> 6];
    if (size < 1 + count) return 0;
    std::vector<std::size_t> sizes;
    for (std::size_t i = 0; i < count; ++i) sizes.push_back(std::size_t{data[1 + i]} + 1);
    const Bytes stream(data + 1 + count, size - 1 - count);
    if (stream.empty()) return 0;

    // The views are reused for every input: allocating their screens anew
    // each time cost more than the links' own work.
    static RecordingView views[3];
    Side whole(0, views[0]);
    whole.Feed(stream);

    Side chunked(partialSends, views[1]);
    for (std::size_t pos = 0, i = 0; pos < stream.size(); ++i) {
        const std::size_t n = std::min(sizes[i % sizes.size()], stream.size() - pos);
        chunked.Feed(stream.subspan(pos, n), budget);
        if (i % 2 == 1) chunked.CatchUp(budget);
        pos += n;
    }
    chunked.CatchUp(budget);
    FUZZ_CHECK(!chunked.link.Behind());

    Side bytewise(1, views[2]);
    for (std::size_t pos = 0; pos < stream.size(); ++pos) bytewise.Feed(stream.subspan(pos, 1));

    CheckPixels(whole.view.screen);
    CheckRepaints(whole.view.repaints);
    CheckSame(whole, chunked);
    CheckSame(whole, bytewise);
    return 0;
}
