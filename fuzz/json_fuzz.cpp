// Any bytes as a report to merge: the reader answers with a value or one
// message, never anything else, however deep or broken the text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "report/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JsonValue value;
    const Status s = parseJson(std::string_view(reinterpret_cast<const char*>(data), size), value);
    if (!s.ok() && s.message().empty()) std::abort();
    return 0;
}
