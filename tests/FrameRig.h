// The main frame shown offscreen over memory settings, its view's link on a
// recording transport, as the GUI tests of the frame and the view use it.
#pragma once

#include <memory>
#include <optional>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "app/CMainFrame.h"
#include "settings/MemorySettingsBackend.h"
#include "view/CChildView.h"

namespace velarix::test {

struct FrameRig {
    explicit FrameRig(
        std::shared_ptr<MemorySettingsBackend> b = std::make_shared<MemorySettingsBackend>(),
        std::optional<int> zoom = std::nullopt)
        : backend(std::move(b)) {
        if (zoom) SettingsStore(backend).SetZoom(*zoom);
        frame = std::make_unique<CMainFrame>(SettingsStore(backend));
        frame->show();
        view()->Core().SetRouterPort(4242);
        view()->Core().Link().AttachTransport(transport);
    }
    ~FrameRig() {
        frame->View()->Core().Shutdown();
        frame.reset();
    }
    FrameRig(const FrameRig&) = delete;
    FrameRig& operator=(const FrameRig&) = delete;

    CChildView* view() const { return frame->View(); }
    void Feed(const ByteVec& bytes) { view()->Core().Link().OnReceive(bytes); }
    void Sync() {
        Feed(SyncBytes());
        transport.TakeSent();
    }

    RecordingTransport transport;
    std::shared_ptr<MemorySettingsBackend> backend;
    std::unique_ptr<CMainFrame> frame;
};

}  // namespace velarix::test
