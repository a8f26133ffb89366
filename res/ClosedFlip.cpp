#include "res/ClosedFlip.h"

#include <cstddef>
#include <iterator>

namespace velarix {

// Defined in the source generated from res/closed_flip.ppm by cmake/EmbedPpm.cmake.
extern const std::uint32_t kClosedFlipData[23296];

static_assert(std::size_t{kClosedFlipWidth} * kClosedFlipHeight == std::size(kClosedFlipData),
              "the embedded picture must be exactly one closed flip in size");

std::span<const std::uint32_t> ClosedFlipPicture() {
    return kClosedFlipData;
}

}  // namespace velarix
