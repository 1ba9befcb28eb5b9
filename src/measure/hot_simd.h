// The hot pixel scan's kernel, written once for every vector level.
#pragma once

#include "core/vector_ops.h"
#include "measure/hot_kernels.h"

namespace {

// The largest room below the ceiling worth squaring: its square already
// exceeds any chroma limit (at most 4096^2), so a larger room decides alike.
constexpr int16_t kRoomCap = 4097;
constexpr int32_t kChunkPixels = 64;
constexpr int32_t kUnaskedAfterMixed = 3;
// Where a 0x00RRGGBB word keeps its channels, on these little-endian processors.
constexpr int kBlueByte = 0, kGreenByte = 1, kRedByte = 2;

// Per pixel in a 64-bit lane: C1, C2, Y words. Legal when C1^2 + C2^2 is at
// most the chroma limit and at most the room (peak - Y) squared, with a
// room below 0 never legal: the scalar test with its squares, in words.
// The result's low lane of each pair is all ones for a hot pixel.
template <typename K>
struct HotConstants {
    using V = typename K::V;
    V bias;           // 3 biases under C1, C2 and Y
    V peak;           // in every word
    V chromaSquared;  // in every lane
    V chromaWords;    // C1 and C2
    V roomWord;       // the word under Y

    explicit HotConstants(const HotPackedRows& rows) {
        alignas(32) uint32_t even[K::kLanes], odd[K::kLanes];
        for (int i = 0; i < K::kLanes; ++i) {
            even[i] = i % 2 == 0 ? 0xFFFFFFFF : 0;
            odd[i] = i % 2 == 0 ? 0 : 0xFFFF;
        }
        chromaWords = K::load(even);
        roomWord = K::load(odd);
        const uint32_t threeBiases = 3u * kHotPartBias;
        bias = K::andv(K::set1(threeBiases | threeBiases << 16), K::orv(chromaWords, roomWord));
        peak = K::set1((static_cast<uint32_t>(rows.peak) & 0xFFFF) * 0x10001u);
        chromaSquared = K::set1(static_cast<uint32_t>(rows.chromaSquared));
    }
};

template <typename K>
KV_VECTOR_INLINE typename K::V hotLanes(const HotConstants<K>& k, typename K::V parts) {
    using V = typename K::V;
    const V v = K::sub16(parts, k.bias);  // C1, C2, Y, 0: exact, within +-32766
    // Saturating: a room past the cap decides like the cap.
    const V room = K::subSaturated16(k.peak, v);
    const V capped = K::min16(K::max16(room, K::zero()), K::set1(static_cast<uint32_t>(kRoomCap)));
    const V terms = K::orv(K::andv(v, k.chromaWords), K::andv(capped, k.roomWord));
    const V squares = K::madd(terms, terms);  // low lane: C1^2 + C2^2; high lane: room^2
    const V roomSquared = K::srl64by32(squares);
    const V roomBelowZero = K::cmpGt(K::zero(), K::template sll<16>(K::srl64by32(room)));
    return K::orv(K::orv(K::cmpGt(squares, k.chromaSquared), K::cmpGt(squares, roomSquared)), roomBelowZero);
}

// The mark every pixel of a whole chunk shares: kHotCellLegal or
// kHotCellHot when all their cells carry it, else kHotCellMixed.
template <typename K>
KV_VECTOR_INLINE uint8_t sharedMark(const HotPackedRows& rows, const uint32_t* chunk) {
    using V = typename K::V;
    const V red = K::set1(0xF00), green = K::set1(0x0F0), blue = K::set1(0x00F);
    alignas(32) uint32_t cells[kChunkPixels];
    for (int32_t x = 0; x < kChunkPixels; x += K::kLanes) {
        const V px = K::load(chunk + x);
        const V cell =
            K::orv(K::orv(K::andv(K::template srl<12>(px), red), K::andv(K::template srl<8>(px), green)),
                   K::andv(K::template srl<4>(px), blue));
        K::store(cells + x, cell);
    }
    uint8_t shared = kHotCellLegal | kHotCellHot;
    for (const uint32_t cell : cells) shared &= rows.cellMark[cell];
    return shared;
}

// What a pass over a row gives: the scan's words, those and the hot
// pixels' positions, or only how many pixels are hot.
enum class HotYield { Words, WordsAndPositions, Count };

template <typename K, HotYield kYield>
int32_t decide(const HotPackedRows& rows, const uint32_t* in, uint32_t* out, int32_t n, int32_t* hot) {
    using V = typename K::V;
    constexpr int kPixelsPerVector = K::kLanes / 2;
    const HotConstants<K> k(rows);
    alignas(32) uint64_t sums[kChunkPixels];
    alignas(32) uint32_t px[kChunkPixels];
    int32_t hotCount = 0;
    int32_t unasked = 0;          // chunks left before the cells are asked again
    V hotLanesCount = K::zero();  // minus the hot pixels counted per lane, with kYield Count
    for (int32_t x0 = 0; x0 < n; x0 += kChunkPixels) {
        const int32_t m = n - x0 < kChunkPixels ? n - x0 : kChunkPixels;
        const uint32_t* chunk = in + x0;
        // A whole chunk whose cells all decide alike needs no sums. On
        // pictures whose chunks seldom do (noise), asking costs more than
        // it saves: after a mixed chunk the next few are not asked.
        uint8_t shared = kHotCellMixed;
        if (m == kChunkPixels && --unasked < 0) {
            shared = sharedMark<K>(rows, chunk);
            unasked = shared == kHotCellMixed ? kUnaskedAfterMixed : 0;
        }
        if (shared != kHotCellMixed) {
            const bool allHot = shared == kHotCellHot;
            if constexpr (kYield == HotYield::Count) {
                hotCount += allHot ? m : 0;
                continue;
            }
            for (int32_t x = 0; x < m; x += K::kLanes)
                K::store(out + x0 + x, allHot ? K::zero() : K::load(chunk + x));
            if constexpr (kYield == HotYield::WordsAndPositions) {
                if (allHot) {
                    for (int32_t x = 0; x < m; ++x) hot[hotCount++] = x0 + x;
                }
            }
            continue;
        }
        // Each channel byte read on its own: fewer steps than taking one word apart.
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(chunk);
        for (int32_t x = 0; x < m; ++x, bytes += sizeof(uint32_t))
            sums[x] = rows.rows[0][bytes[kRedByte]] + rows.rows[1][bytes[kGreenByte]] +
                      rows.rows[2][bytes[kBlueByte]];
        // A partial chunk is filled up with zero parts; nothing of them is
        // written or reported.
        if (m < kChunkPixels) {
            for (int32_t x = 0; x < m; ++x) px[x] = chunk[x];
            chunk = px;
        }
        for (int32_t x = m; x < (m + K::kLanes - 1) / K::kLanes * K::kLanes; ++x) {
            px[x] = 0;
            sums[x] = 3 * ((uint64_t{kHotPartBias} << 32) | (uint64_t{kHotPartBias} << 16) | kHotPartBias);
        }
        for (int32_t x = 0; x < m; x += K::kLanes) {
            const V a = hotLanes<K>(k, K::load(reinterpret_cast<const uint32_t*>(sums + x)));
            const V b =
                hotLanes<K>(k, K::load(reinterpret_cast<const uint32_t*>(sums + x + kPixelsPerVector)));
            const V hotMask = K::evenLanes(a, b);
            const int32_t valid = m - x < K::kLanes ? m - x : K::kLanes;
            if constexpr (kYield == HotYield::Count) {
                if (valid == K::kLanes)
                    hotLanesCount = K::add(hotLanesCount, hotMask);  // all ones: minus one
                else
                    hotCount +=
                        __builtin_popcount(static_cast<unsigned>(K::signMask(hotMask)) & ((1u << valid) - 1));
                continue;
            }
            const V result = K::andNot(hotMask, K::load(chunk + x));
            if (valid == K::kLanes) {
                K::store(out + x0 + x, result);
            } else {
                alignas(32) uint32_t tail[K::kLanes];
                K::store(tail, result);
                for (int32_t i = 0; i < valid; ++i) out[x0 + x + i] = tail[i];
            }
            if constexpr (kYield == HotYield::WordsAndPositions) {
                unsigned bits = static_cast<unsigned>(K::signMask(hotMask)) & ((1u << valid) - 1);
                while (bits != 0) {
                    hot[hotCount++] = x0 + x + __builtin_ctz(bits);
                    bits &= bits - 1;
                }
            }
        }
    }
    if constexpr (kYield == HotYield::Count) {
        alignas(32) uint32_t lanes[K::kLanes];
        K::store(lanes, hotLanesCount);
        for (const uint32_t lane : lanes) hotCount -= static_cast<int32_t>(lane);
    }
    return hotCount;
}

// Without positions to report (to black) no branch depends on the pixels.
template <typename K>
int32_t decideRow(const HotRowSource& src, const uint32_t* in, uint32_t* out, int32_t n, int32_t* hot) {
    return hot != nullptr ? decide<K, HotYield::WordsAndPositions>(src.packed, in, out, n, hot)
                          : decide<K, HotYield::Words>(src.packed, in, out, n, hot);
}

template <typename K>
int32_t countRow(const HotRowSource& src, const uint32_t* in, int32_t n) {
    return decide<K, HotYield::Count>(src.packed, in, nullptr, n, nullptr);
}

}  // namespace
