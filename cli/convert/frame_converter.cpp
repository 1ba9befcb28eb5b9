#include "convert/frame_converter.h"

#include <algorithm>
#include <string>

#include "input/rotation.h"

namespace {

// Rows of `whole` from `first` (counted from the top) into `rows`.
void copyRows(const FrameBuffer& whole, int32_t first, const Frame& rows) {
    const ConstFrame from = whole.frame();
    for (int32_t k = 0; k < rows.h; ++k) std::copy_n(from.canvasRow(first + k), rows.w, rows.canvasRow(k));
}

// A converter's failure, named for the frame it met.
Status frameFailed(const SourceInfo& info, const DecodedPicture& picture, const Status& s) {
    return Status::fail(info.name + ", frame " + std::to_string(picture.number) + ": " + s.message());
}

}  // namespace

FrameConverter::FrameConverter(const SourceInfo& info, int threads)
    : info_(info), threads_(threadsOrCores(threads)) {}

FrameConverter::Kind& FrameConverter::kindFor(RgbLevels levels) {
    for (Kind& k : kinds_)
        if (k.used && k.levels == levels) return k;
    // A third kind of levels (never asked for in one run) takes over the last converter.
    const auto free = std::find_if(kinds_.begin(), kinds_.end(), [](const Kind& k) { return !k.used; });
    Kind& k = free != kinds_.end() ? *free : kinds_.back();
    k.used = true;
    k.levels = levels;
    return k;
}

Status FrameConverter::convert(const DecodedPicture& picture, RgbLevels levels, FrameBuffer& out) {
    return convertWith(kindFor(levels), picture, out);
}

Status FrameConverter::convertWith(Kind& kind, const DecodedPicture& picture, FrameBuffer& out) {
    if (picture.decoded == nullptr) {
        copyRows(*picture.rgb, 0, out.frame());
        return {};
    }
    if (!workers_ && threads_ > 1) {
        workers_ = std::make_unique<SliceWorkers>(threads_);
        for (Kind& k : kinds_) k.converter.setWorkers(workers_.get());
    }
    const AVFrame& f = *picture.decoded;
    Status s;
    if (info_.rotation == 0) {
        s = kind.converter.convert(f, picture.levels, kind.levels, out.topRowBytes(), out.topDownStride());
    } else {
        unturned_.resize(static_cast<size_t>(f.width) * static_cast<size_t>(f.height));
        s = kind.converter.convert(f, picture.levels, kind.levels,
                                   reinterpret_cast<uint8_t*>(unturned_.data()),
                                   f.width * static_cast<int>(sizeof(uint32_t)));
        if (s.ok()) turnPicture({info_.rotation, f.width, f.height}, unturned_.data(), out);
    }
    return s.ok() ? s : frameFailed(info_, picture, s);
}

Status FrameConverter::prepareRows(const DecodedPicture& picture, const std::vector<RgbLevels>& levels) {
    if (levels.size() > kMostLevels) return Status::fail("too many levels to convert in bands");
    for (const RgbLevels l : levels) {
        Kind& kind = kindFor(l);
        if (picture.decoded == nullptr) {
            kind.byRows = false;
            kind.copied = picture.rgb;
            continue;
        }
        if (Status s = kind.converter.prepare(*picture.decoded, picture.levels, l); !s.ok())
            return frameFailed(info_, picture, s);
        kind.byRows = info_.rotation == 0 && kind.converter.byRows();
        if (kind.byRows) continue;
        if (kind.whole.w() != info_.w || kind.whole.h() != info_.h)
            kind.whole = FrameBuffer(info_.w, info_.h, kBytesPerPixel * static_cast<ptrdiff_t>(info_.w));
        if (Status s = convertWith(kind, picture, kind.whole); !s.ok()) return s;
        kind.copied = &kind.whole;
    }
    return {};
}

void FrameConverter::rows(RgbLevels levels, int32_t first, const Frame& rows) const {
    const auto prepared = std::find_if(kinds_.begin(), kinds_.end(),
                                       [&](const Kind& k) { return k.used && k.levels == levels; });
    const Kind& kind = prepared != kinds_.end() ? *prepared : kinds_.front();
    if (!kind.byRows) {
        copyRows(*kind.copied, first, rows);
        return;
    }
    kind.converter.rows(first, first + rows.h, reinterpret_cast<uint8_t*>(rows.canvasRow(0)),
                        -static_cast<int>(rows.pitch));
}
