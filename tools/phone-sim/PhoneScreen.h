// The simulated phone's user interface: a contacts list with a title bar and clock, a text
// line that echoes what is typed, a line that shows the last key and stylus action, a
// colourful scribble area and a softkey bar. Input from the viewer changes its state; Render()
// paints the current state into a framebuffer, which the session then compares with what the
// viewer already has.
//
// Screen lines (y, from the top):
//     0..15   title bar: "Contacts", the clock
//    16..183  twelve list rows of 14 lines, a scroll bar at the right
//   184..195  the echoed text
//   196..207  last key, last stylus action
//   208..303  scribble area (a colour gradient, covered by the flip when it is closed)
//   304..319  softkeys and the colour mode the viewer asked for
// Stylus strokes are drawn over everything.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Framebuffer.h"

namespace phonesim {

using Clock = std::chrono::steady_clock;

class PhoneScreen {
public:
    // Without animation the clock stands still and nothing moves by itself, so the screen
    // changes only on input.
    PhoneScreen(bool animated, Clock::time_point now);

    void OnKey(std::uint8_t action, std::uint32_t code, Clock::time_point now);
    void OnChar(std::uint16_t code, Clock::time_point now);
    void OnPointer(std::uint8_t action, int x, int y, Clock::time_point now);
    void AppendText(std::string_view text);
    void SetModeLabel(std::string label) { modeLabel_ = std::move(label); }
    // Removes the stylus strokes and the echoed text.
    void Clear();

    // Moves the animation to `now` and paints the whole screen.
    void Render(Framebuffer& fb, Clock::time_point now);

    static constexpr int kItemCount = 30;
    static constexpr int kVisibleRows = 12;

private:
    void Select(int index);
    void DrawInkDot(int x, int y);
    void DrawInkLine(int x0, int y0, int x1, int y1);

    bool animated_;
    Clock::time_point start_;
    Clock::time_point lastUserInput_;
    Clock::time_point lastAdvance_;
    std::string frozenClock_;
    int selected_ = 0;
    int top_ = 0;
    std::string text_;
    std::string lastKey_ = "no key yet";
    std::string lastPen_;
    std::string modeLabel_ = "waiting";
    // Stylus ink over the whole screen: 0 = none, otherwise 1 + stroke colour index.
    std::vector<std::uint8_t> ink_;
    bool penDown_ = false;
    int penX_ = 0, penY_ = 0;
    unsigned strokes_ = 0;
    Framebuffer background_;  // the scribble gradient, computed once
};

}  // namespace phonesim
