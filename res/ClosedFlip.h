// The picture the viewer shows in the bottom of the screen while the phone's
// flip is closed: on the real phone the flip hides that part of the touch
// screen, so the viewer puts a picture of the closed flip there instead.
//
// The pixels come from res/closed_flip.ppm (drawn by tools/draw_closed_flip.py)
// and are compiled in, so there is no file to look for at run time.
#pragma once

#include <cstdint>
#include <span>

namespace velarix {

inline constexpr int kClosedFlipWidth = 208;
inline constexpr int kClosedFlipHeight = 112;

// kClosedFlipWidth * kClosedFlipHeight pixels, each 0x00RRGGBB (blue in the low
// byte), rows top-down: the first row is the picture's top row, which goes on
// screen row kScreenHeight - kClosedFlipHeight.
std::span<const std::uint32_t> ClosedFlipPicture();

}  // namespace velarix
