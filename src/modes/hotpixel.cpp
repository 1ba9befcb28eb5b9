#include "modes/hotpixel.h"

void prepareHotPixel(ScopeInstance&, OutputGeometry&) {}  // TODO(hotpixel)

uint32_t hotPixelTest(const ScopeInstance&, uint32_t px) { return px; }  // TODO(hotpixel)

int renderHotPixel(ScopeInstance&, const ConstFrame&, const Frame&) {
    return 0;  // TODO(hotpixel)
}
