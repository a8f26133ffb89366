// Turns the PC's keyboard, mouse and wheel into phone input messages. No
// window-system types: the view maps its events onto these calls, and tests
// drive them directly.
//
// Positions are client coordinates of the view. The phone screen is painted
// 3 pixels in from the left and 2 from the top, scaled by the zoom; a press
// outside it sends nothing, and a drag that leaves it is held at its edge.
#pragma once

#include <cstdint>
#include <string_view>

#include "link/PhoneLink.h"

namespace velarix {

// The PC keys that have a phone key.
enum class PcKey { Other, PageUp, PageDown, Left, Up, Right, Down, F1, F2, F3, F4, F5 };

// The phone key code for a PC key; 0 for every other key, digits included.
std::uint32_t PhoneKeyFor(PcKey key);

inline constexpr int kScreenInsetX = 3;
inline constexpr int kScreenInsetY = 2;

enum class MouseButton { Left, Middle, Right };

class InputTranslator {
public:
    // `link` is the active link, or null while disconnected: then nothing is sent.
    void SetLink(CPhoneLink* link);
    void SetZoom(int zoom) { zoom_ = zoom == 2 ? 2 : 1; }

    // A key went down; `text` is what it types (UTF-16 code units), handled
    // as characters after the key itself.
    void KeyDown(PcKey key, std::u16string_view text);
    void KeyUp(PcKey key);
    // One typed character: digits are the phone's digit keys, everything
    // else a character message.
    void Char(char16_t code);

    void ButtonDown(MouseButton button, int x, int y);
    void ButtonUp(MouseButton button, int x, int y);
    // `buttonsHeld` counts the mouse buttons held; `otherState` is true while
    // a modifier key is held too.
    void Move(int x, int y, int buttonsHeld, bool otherState);
    // Wheel rotation in eighths of a degree; every 120 is one notch, one
    // message. Remainders carry over to the next event.
    void Wheel(int delta);

private:
    struct PhonePoint {
        std::uint16_t x, y;
    };
    // The phone pixel under a client point, when the point is on the screen.
    bool ToPhone(int x, int y, PhonePoint& out) const;
    PhonePoint ToPhoneClamped(int x, int y) const;

    CPhoneLink* link_ = nullptr;
    int zoom_ = 1;
    int wheelRest_ = 0;
    bool stylusDown_ = false;  // the phone got a down and waits for its up
};

}  // namespace velarix
