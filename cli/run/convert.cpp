#include "run/convert.h"

void convertFor(Reader& reader, FilterInstance& inst, const Display& display) {
    reader.setRgbLevels(
        rgbLevelsFor(display.mode, display.passthru, filterStudioRange(inst), reader.info().levels));
}
