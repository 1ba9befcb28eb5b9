// The drawing primitives with any coordinates, sizes, colours and text on
// any frame: everything outside is clipped, nothing is written past the
// frame's rows (the padding keeps its sentinel).
#include <cstdlib>
#include <string>

#include "draw/raster.h"
#include "draw/text.h"
#include "fuzz_input.h"
#include "pluginhost/frame_buffer.h"

namespace {

constexpr int32_t kMaxSide = 700;
constexpr int kMaxOperations = 64;
enum Operation : uint8_t { kFill, kPlot, kLine, kGlyph, kText, kOperations };

int32_t coordinate(FuzzInput& in) {
    // Mostly near the frame, sometimes anywhere in 32 bits.
    return in.next<uint8_t>() < 200 ? static_cast<int32_t>(in.inRange(-1000, 1000)) : in.next<int32_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int32_t w = static_cast<int32_t>(in.inRange(0, kMaxSide));
    const int32_t h = static_cast<int32_t>(in.inRange(0, kMaxSide));
    const int32_t pad = static_cast<int32_t>(in.inRange(0, 8));
    FrameBuffer frame(w, h, kBytesPerPixel * (static_cast<ptrdiff_t>(w) + pad));
    const Frame f = frame.frame();
    for (int k = 0; k < kMaxOperations && !in.empty(); ++k) {
        const uint32_t colour = in.next<uint32_t>();
        switch (in.next<uint8_t>() % kOperations) {
        case kFill:
            fillRect(f, coordinate(in), coordinate(in), coordinate(in), coordinate(in), colour);
            break;
        case kPlot: plotPixel(f, coordinate(in), coordinate(in), colour); break;
        case kLine:
            drawLine(f, coordinate(in), coordinate(in), coordinate(in), coordinate(in), colour);
            break;
        case kGlyph: drawGlyph(f, coordinate(in), coordinate(in), in.next<uint8_t>(), colour); break;
        case kText: {
            const int32_t x = coordinate(in), y = coordinate(in);
            const size_t n = static_cast<size_t>(in.inRange(0, 2000));
            std::string text(reinterpret_cast<const char*>(in.rest()), std::min(n, in.left()));
            drawText(f, x, y, text.c_str(), colour);
            break;
        }
        }
    }
    if (!frame.paddingIntact()) std::abort();
    return 0;
}
