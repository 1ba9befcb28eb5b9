// The frei0r filter's parameters as a host may set them (any index, any
// bytes as text, any double as a switch), then frames of any small size:
// a taken text reads back as given, a refused one leaves the value, and
// every frame is written whole and opaque.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frei0r/filter_instance.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    constexpr int64_t kLargestFuzzedSide = 96;
    const auto w = static_cast<uint32_t>(in.inRange(1, kLargestFuzzedSide));
    const auto h = static_cast<uint32_t>(in.inRange(1, kLargestFuzzedSide));
    FilterInstance* inst = createInstance(w, h);
    if (inst == nullptr) std::abort();
    std::vector<uint32_t> frame(static_cast<size_t>(w) * h), out(frame.size());
    // Any picture: one seed spread over the frame by a multiplicative hash.
    constexpr uint32_t kGolden = 0x9E3779B1;
    const uint32_t seed = in.next<uint32_t>();
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = (seed + static_cast<uint32_t>(i)) * kGolden;
    while (!in.empty()) {
        const int index = static_cast<int>(in.inRange(-1, kParamCount));
        if (isSwitchParam(index)) {
            setSwitchParam(inst->params, index, in.next<double>());
        } else {
            char text[kParamTextSize + 8] = {};
            const size_t length = static_cast<size_t>(in.inRange(0, kParamTextSize + 4));
            for (size_t i = 0; i < length; ++i) text[i] = in.next<char>();
            const std::string before = isTextParam(index) ? shownText(inst->params, index) : "";
            const bool taken = setTextParam(inst->params, index, text);
            if (isTextParam(index)) {
                const std::string after = shownText(inst->params, index);
                if (taken && text[0] != '\0' && after != text) std::abort();
                if (!taken && after != before) std::abort();
            }
        }
        std::fill(out.begin(), out.end(), 0u);
        updateInstance(*inst, frame.data(), out.data());
        for (uint32_t p : out)
            if ((p & kOpaque) != kOpaque) std::abort();
    }
    destroyInstance(inst);
    return 0;
}
