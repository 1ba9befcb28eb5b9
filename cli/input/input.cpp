#include "input/input.h"

#include "input/readers.h"

namespace {

struct InputFormat {
    std::string_view name;
    Status (*open)(const ReaderParams& params, std::unique_ptr<Reader>& reader);
};

constexpr InputFormat kInputFormats[] = {
    {kMediaReaderName, openMediaReader},
    {kTestCardReaderName, openTestCardReader},
};

}  // namespace

Status openReader(std::string_view name, const ReaderParams& params, std::unique_ptr<Reader>& reader) {
    for (const InputFormat& f : kInputFormats)
        if (f.name == name) return f.open(params, reader);
    return Status::fail("no reader called " + std::string(name));
}

Status startPastStill(const std::string& name, const StartPoint& start) {
    return Status::fail(name + " is a still picture: -ss " + start.text + " is past its only frame");
}
