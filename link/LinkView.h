// What the link calls in the view that shows the phone. All calls come on the
// thread that feeds the link, from inside its receive processing or a send.
#pragma once

#include <cstdint>
#include <span>

#include "link/Protocol.h"

namespace velarix {

class CPhoneLink;

class ILinkView {
public:
    // The sync pattern arrived; the view makes this link its active link and
    // sends the phone its options before the link acknowledges the sync.
    virtual void OnLinkSynced(CPhoneLink& link) = 0;
    // The link lost its sync (framing error, the phone's Bye, a failed send,
    // a closed connection). The view drops it if it was the active link.
    virtual void OnLinkLost(CPhoneLink& link) = 0;
    // Re-allocates and whitens the screen buffer only when the size differs.
    virtual void SetScreenSize(int width, int height) = 0;
    // The screen buffer: width × height pixels 0x00RRGGBB, rows bottom-up.
    virtual std::span<std::uint32_t> ScreenPixels() = 0;
    // Redraw the band at once; screen pixels, unzoomed, lines counted from the top.
    virtual void RepaintLines(int left, int top, int right, int bottom) = 0;
    // Rebuild the status page from the link's connection state.
    virtual void RefreshStatusPage() = 0;

    // Phone data besides frames. `text` is 8-bit phone text, already cut at
    // its first zero byte; it lives only for the call.
    virtual void OnPhoneClipboardText(Bytes text) { (void)text; }
    virtual void OnPhoneStatusValue(std::uint32_t value) { (void)value; }
    virtual void OnPhoneStatusWord(std::uint32_t word) { (void)word; }
    virtual void OnPhoneEvent(std::uint8_t code) { (void)code; }

protected:
    ~ILinkView() = default;
};

}  // namespace velarix
