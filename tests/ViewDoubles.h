// A window-system stand-in for the view core: records what the core asks of
// the window and lets a test decide what the clipboard holds.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "settings/MemorySettingsBackend.h"
#include "view/ViewCore.h"

namespace velarix::test {

class RecordingHost final : public IViewHost {
public:
    void RepaintNow(int l, int t, int r, int b) override { repaints.push_back({l, t, r, b}); }
    void RedrawAll() override { calls.push_back("redraw"); }
    void ShowStatusPage(bool show) override { calls.push_back(show ? "page" : "screen"); }
    void RefreshStatusPage() override { calls.push_back("refresh"); }
    void StartTimer(int id, int ms) override {
        calls.push_back("timer " + std::to_string(id) + " " + std::to_string(ms));
    }
    void KillTimer(int id) override { calls.push_back("kill " + std::to_string(id)); }
    void StartFrameRefresh() override { ++frameRefreshes; }
    void ActivateMainWindow() override { calls.push_back("activate"); }
    void BringToFront() override { calls.push_back("front"); }
    bool RaisedThisTurn() const override { return raisedThisTurn; }
    std::optional<std::string> ClipboardText() override { return clipboard; }
    void SetClipboardText(const std::string& t) override { clipboard = t; }
    void CopyScreenToClipboard() override { calls.push_back("copy screen"); }
    void SaveScreenshot() override { calls.push_back("save screen"); }
    void ZoomChanged() override { calls.push_back("zoom"); }
    void ConnectToRouter() override { calls.push_back("connect"); }
    void LinkLost() override { calls.push_back("link lost"); }
    void ShowStatusMessage(const std::string& text) override { calls.push_back("note " + text); }

    std::vector<std::string> calls;
    std::vector<Repaint> repaints;
    std::optional<std::string> clipboard;
    int frameRefreshes = 0;
    bool raisedThisTurn = false;
};

// A view core with a connected, synced link and settings in memory.
struct ConnectedView {
    explicit ConnectedView(bool sync = true)
        : backend(std::make_shared<MemorySettingsBackend>()), view(host, SettingsStore(backend)) {
        view.Link().AttachTransport(transport);
        view.SetRouterPort(5000);
        if (sync) Feed(SyncBytes());
        transport.TakeSent();
        host.calls.clear();
    }
    void Feed(const ByteVec& bytes) { view.Link().OnReceive(bytes); }
    std::uint32_t Int(std::string_view section, std::string_view key) const {
        return *backend->ReadInt(section, key);
    }

    RecordingTransport transport;
    RecordingHost host;
    std::shared_ptr<MemorySettingsBackend> backend;
    ViewCore view;
};

}  // namespace velarix::test
