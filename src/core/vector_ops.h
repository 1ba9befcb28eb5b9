// The few vector operations the kernels share, over 32-bit lanes (words are
// the 16-bit halves of a lane). One struct per instruction set: a kernel is
// a template written once against these names and built in one file per
// level (the x86/*_sse2.cpp, *_avx2.cpp and *_avx512.cpp files of the
// filter and the host's conversion).
//
// Everything here has internal linkage on purpose: a file built for AVX2
// must not hand the linker an inline function that a file for an older
// processor could end up calling.
#pragma once

#include <emmintrin.h>
#if defined(__AVX2__) || defined(__AVX512BW__)
// GCC 12's AVX-512 forms start from a deliberately undefined vector, which
// its uninitialized-use check reports once they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif
#endif

#include <cstdint>
#include <cstring>

#define KV_VECTOR_INLINE inline __attribute__((always_inline))

namespace {

struct VecSse2 {
    using V = __m128i;
    static constexpr int kLanes = 4;

    static KV_VECTOR_INLINE V load(const uint32_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const V*>(p));
    }
    static KV_VECTOR_INLINE void store(uint32_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
    static KV_VECTOR_INLINE V set1(uint32_t x) { return _mm_set1_epi32(static_cast<int>(x)); }
    // Each lane holds `lo` in its low word and `hi` in its high word.
    static KV_VECTOR_INLINE V setWords(int16_t lo, int16_t hi) {
        return set1(static_cast<uint16_t>(lo) | static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16);
    }
    static KV_VECTOR_INLINE V zero() { return _mm_setzero_si128(); }
    static KV_VECTOR_INLINE V andv(V a, V b) { return _mm_and_si128(a, b); }
    static KV_VECTOR_INLINE V orv(V a, V b) { return _mm_or_si128(a, b); }
    static KV_VECTOR_INLINE V andNot(V a, V b) { return _mm_andnot_si128(a, b); }  // ~a & b
    static KV_VECTOR_INLINE V add(V a, V b) { return _mm_add_epi32(a, b); }
    static KV_VECTOR_INLINE V sub(V a, V b) { return _mm_sub_epi32(a, b); }
    template <int N>
    static KV_VECTOR_INLINE V srl(V a) {
        return _mm_srli_epi32(a, N);
    }
    template <int N>
    static KV_VECTOR_INLINE V sll(V a) {
        return _mm_slli_epi32(a, N);
    }
    static KV_VECTOR_INLINE V cmpEq(V a, V b) { return _mm_cmpeq_epi32(a, b); }
    static KV_VECTOR_INLINE V cmpGt(V a, V b) { return _mm_cmpgt_epi32(a, b); }  // signed
    static KV_VECTOR_INLINE V select(V mask, V yes, V no) { return orv(andv(mask, yes), andNot(mask, no)); }
    static KV_VECTOR_INLINE V minSigned(V a, V b) { return select(cmpGt(a, b), b, a); }
    static KV_VECTOR_INLINE V maxSigned(V a, V b) { return select(cmpGt(a, b), a, b); }
    // Signed words multiplied pairwise, each lane's two products summed.
    static KV_VECTOR_INLINE V madd(V a, V b) { return _mm_madd_epi16(a, b); }
    // Per word: (a * b + 2^14) >> 15, for a in 0..255 and b in 0..32767.
    // Doubled, the product's top half is the result and bit 15 of its
    // bottom half the rounding carry.
    static KV_VECTOR_INLINE V mulRound15(V a, V b) {
        const V a2 = _mm_add_epi16(a, a);
        return _mm_add_epi16(_mm_mulhi_epi16(a2, b), _mm_srli_epi16(_mm_mullo_epi16(a2, b), 15));
    }
    // Any signed lane held to 0..255.
    static KV_VECTOR_INLINE V clampLevel(V a) {
        const V bytes = _mm_packus_epi16(_mm_packs_epi32(a, a), zero());
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero()), zero());
    }
    // (a >> 24) * 0x010101: the top byte copied into the three low bytes.
    static KV_VECTOR_INLINE V greyOfTopByte(V a) {
        const V y = srl<24>(a);
        return orv(orv(y, sll<8>(y)), sll<16>(y));
    }
    static KV_VECTOR_INLINE int signMask(V a) { return _mm_movemask_ps(_mm_castsi128_ps(a)); }
    static KV_VECTOR_INLINE V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static KV_VECTOR_INLINE V add16(V a, V b) { return _mm_add_epi16(a, b); }
    static KV_VECTOR_INLINE V xorv(V a, V b) { return _mm_xor_si128(a, b); }
    template <int N>
    static KV_VECTOR_INLINE V sra16(V a) {
        return _mm_srai_epi16(a, N);
    }
    static KV_VECTOR_INLINE V mulLow16(V a, V b) { return _mm_mullo_epi16(a, b); }
    static KV_VECTOR_INLINE V mulHighUnsigned16(V a, V b) { return _mm_mulhi_epu16(a, b); }
    static KV_VECTOR_INLINE V subSaturated16(V a, V b) { return _mm_subs_epi16(a, b); }
    static KV_VECTOR_INLINE V max16(V a, V b) { return _mm_max_epi16(a, b); }
    static KV_VECTOR_INLINE V min16(V a, V b) { return _mm_min_epi16(a, b); }
    static KV_VECTOR_INLINE V srl64by32(V a) { return _mm_srli_epi64(a, 32); }
    static KV_VECTOR_INLINE V minBytes(V a, V b) { return _mm_min_epu8(a, b); }  // unsigned
    static KV_VECTOR_INLINE V maxBytes(V a, V b) { return _mm_max_epu8(a, b); }
    // The low lane of each 64-bit half of a, then of b, in order.
    static KV_VECTOR_INLINE V evenLanes(V a, V b) {
        return _mm_castps_si128(
            _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
    }
    // The host's conversion: lanes 0, 0, 1, 1 ... of the first half of a,
    // then of the second; kLanes bytes into lanes; two vectors of signed
    // lanes to one of saturated words, and words to bytes.
    static KV_VECTOR_INLINE V spreadLow(V a) { return _mm_unpacklo_epi32(a, a); }
    static KV_VECTOR_INLINE V spreadHigh(V a) { return _mm_unpackhi_epi32(a, a); }
    static KV_VECTOR_INLINE V bytesToLanes(const uint8_t* p) {
        int32_t four;
        std::memcpy(&four, p, sizeof four);
        const V bytes = _mm_cvtsi32_si128(four);
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero()), zero());
    }
    // kLanes unsigned 16-bit words into lanes.
    static KV_VECTOR_INLINE V wordsToLanes(const uint16_t* p) {
        return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const V*>(p)), zero());
    }
    template <int N>
    static KV_VECTOR_INLINE V sra(V a) {
        return _mm_srai_epi32(a, N);
    }
    static KV_VECTOR_INLINE V packWords(V a, V b) { return _mm_packs_epi32(a, b); }
    static KV_VECTOR_INLINE V packBytes(V a, V b) { return _mm_packus_epi16(a, b); }
    static KV_VECTOR_INLINE V interleaveBytesLow(V a, V b) { return _mm_unpacklo_epi8(a, b); }
    static KV_VECTOR_INLINE V interleaveBytesHigh(V a, V b) { return _mm_unpackhi_epi8(a, b); }
    static KV_VECTOR_INLINE V interleaveWordsLow(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static KV_VECTOR_INLINE V interleaveWordsHigh(V a, V b) { return _mm_unpackhi_epi16(a, b); }
};

#if defined(__AVX2__)
struct VecAvx2 {
    using V = __m256i;
    static constexpr int kLanes = 8;

    static KV_VECTOR_INLINE V load(const uint32_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
    }
    static KV_VECTOR_INLINE void store(uint32_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    static KV_VECTOR_INLINE V set1(uint32_t x) { return _mm256_set1_epi32(static_cast<int>(x)); }
    static KV_VECTOR_INLINE V setWords(int16_t lo, int16_t hi) {
        return set1(static_cast<uint16_t>(lo) | static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16);
    }
    static KV_VECTOR_INLINE V zero() { return _mm256_setzero_si256(); }
    static KV_VECTOR_INLINE V andv(V a, V b) { return _mm256_and_si256(a, b); }
    static KV_VECTOR_INLINE V orv(V a, V b) { return _mm256_or_si256(a, b); }
    static KV_VECTOR_INLINE V andNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    static KV_VECTOR_INLINE V add(V a, V b) { return _mm256_add_epi32(a, b); }
    static KV_VECTOR_INLINE V sub(V a, V b) { return _mm256_sub_epi32(a, b); }
    template <int N>
    static KV_VECTOR_INLINE V srl(V a) {
        return _mm256_srli_epi32(a, N);
    }
    template <int N>
    static KV_VECTOR_INLINE V sll(V a) {
        return _mm256_slli_epi32(a, N);
    }
    static KV_VECTOR_INLINE V cmpEq(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
    static KV_VECTOR_INLINE V cmpGt(V a, V b) { return _mm256_cmpgt_epi32(a, b); }
    static KV_VECTOR_INLINE V select(V mask, V yes, V no) { return _mm256_blendv_epi8(no, yes, mask); }
    static KV_VECTOR_INLINE V minSigned(V a, V b) { return _mm256_min_epi32(a, b); }
    static KV_VECTOR_INLINE V maxSigned(V a, V b) { return _mm256_max_epi32(a, b); }
    static KV_VECTOR_INLINE V madd(V a, V b) { return _mm256_madd_epi16(a, b); }
    static KV_VECTOR_INLINE V mulRound15(V a, V b) { return _mm256_mulhrs_epi16(a, b); }
    static KV_VECTOR_INLINE V clampLevel(V a) { return maxSigned(minSigned(a, set1(255)), zero()); }
    static KV_VECTOR_INLINE V greyOfTopByte(V a) {
        // Each lane takes its own byte 3 three times and a zero (the
        // shuffle indexes bytes within each 128-bit half).
        const V spread = _mm256_setr_epi8(3, 3, 3, -1, 7, 7, 7, -1, 11, 11, 11, -1, 15, 15, 15, -1,  //
                                          3, 3, 3, -1, 7, 7, 7, -1, 11, 11, 11, -1, 15, 15, 15, -1);
        return _mm256_shuffle_epi8(a, spread);
    }
    static KV_VECTOR_INLINE int signMask(V a) { return _mm256_movemask_ps(_mm256_castsi256_ps(a)); }
    static KV_VECTOR_INLINE V sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static KV_VECTOR_INLINE V add16(V a, V b) { return _mm256_add_epi16(a, b); }
    static KV_VECTOR_INLINE V xorv(V a, V b) { return _mm256_xor_si256(a, b); }
    template <int N>
    static KV_VECTOR_INLINE V sra16(V a) {
        return _mm256_srai_epi16(a, N);
    }
    static KV_VECTOR_INLINE V mulLow16(V a, V b) { return _mm256_mullo_epi16(a, b); }
    static KV_VECTOR_INLINE V mulHighUnsigned16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
    static KV_VECTOR_INLINE V subSaturated16(V a, V b) { return _mm256_subs_epi16(a, b); }
    static KV_VECTOR_INLINE V max16(V a, V b) { return _mm256_max_epi16(a, b); }
    static KV_VECTOR_INLINE V min16(V a, V b) { return _mm256_min_epi16(a, b); }
    static KV_VECTOR_INLINE V srl64by32(V a) { return _mm256_srli_epi64(a, 32); }
    static KV_VECTOR_INLINE V minBytes(V a, V b) { return _mm256_min_epu8(a, b); }
    static KV_VECTOR_INLINE V maxBytes(V a, V b) { return _mm256_max_epu8(a, b); }
    static KV_VECTOR_INLINE V evenLanes(V a, V b) {
        const V mixed = _mm256_castps_si256(
            _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
        return _mm256_permute4x64_epi64(mixed, _MM_SHUFFLE(3, 1, 2, 0));
    }
    static KV_VECTOR_INLINE V spreadLow(V a) {
        return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
    }
    static KV_VECTOR_INLINE V spreadHigh(V a) {
        return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7));
    }
    static KV_VECTOR_INLINE V bytesToLanes(const uint8_t* p) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    }
    // Lane by lane, the low 32 bits of the product.
    static KV_VECTOR_INLINE V mulLow32(V a, V b) { return _mm256_mullo_epi32(a, b); }
    static KV_VECTOR_INLINE V wordsToLanes(const uint16_t* p) {
        return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    template <int N>
    static KV_VECTOR_INLINE V sra(V a) {
        return _mm256_srai_epi32(a, N);
    }
    // Per 128-bit half, as the SSE2 ones: a pack and the interleaves after
    // it undo each other's order.
    static KV_VECTOR_INLINE V packWords(V a, V b) { return _mm256_packs_epi32(a, b); }
    static KV_VECTOR_INLINE V packBytes(V a, V b) { return _mm256_packus_epi16(a, b); }
    static KV_VECTOR_INLINE V interleaveBytesLow(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
    static KV_VECTOR_INLINE V interleaveBytesHigh(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
    static KV_VECTOR_INLINE V interleaveWordsLow(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static KV_VECTOR_INLINE V interleaveWordsHigh(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
};
#endif

#if defined(__AVX512BW__)
// The AVX2 set's semantics lane for lane, sixteen lanes wide: packs,
// interleaves and byte shuffles still act per 128-bit quarter. Compares
// come back as vectors of all-ones lanes, as at the other levels, so the
// kernels keep one form of mask.
struct VecAvx512 {
    using V = __m512i;
    static constexpr int kLanes = 16;

    static KV_VECTOR_INLINE V load(const uint32_t* p) { return _mm512_loadu_si512(p); }
    static KV_VECTOR_INLINE void store(uint32_t* p, V v) { _mm512_storeu_si512(p, v); }
    static KV_VECTOR_INLINE V set1(uint32_t x) { return _mm512_set1_epi32(static_cast<int>(x)); }
    static KV_VECTOR_INLINE V setWords(int16_t lo, int16_t hi) {
        return set1(static_cast<uint16_t>(lo) | static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16);
    }
    static KV_VECTOR_INLINE V zero() { return _mm512_setzero_si512(); }
    static KV_VECTOR_INLINE V andv(V a, V b) { return _mm512_and_si512(a, b); }
    static KV_VECTOR_INLINE V orv(V a, V b) { return _mm512_or_si512(a, b); }
    static KV_VECTOR_INLINE V andNot(V a, V b) { return _mm512_andnot_si512(a, b); }
    static KV_VECTOR_INLINE V add(V a, V b) { return _mm512_add_epi32(a, b); }
    static KV_VECTOR_INLINE V sub(V a, V b) { return _mm512_sub_epi32(a, b); }
    template <int N>
    static KV_VECTOR_INLINE V srl(V a) {
        return _mm512_srli_epi32(a, N);
    }
    template <int N>
    static KV_VECTOR_INLINE V sll(V a) {
        return _mm512_slli_epi32(a, N);
    }
    static KV_VECTOR_INLINE V cmpEq(V a, V b) { return _mm512_movm_epi32(_mm512_cmpeq_epi32_mask(a, b)); }
    static KV_VECTOR_INLINE V cmpGt(V a, V b) { return _mm512_movm_epi32(_mm512_cmpgt_epi32_mask(a, b)); }
    // Bit by bit, as the SSE2 form: mask ? yes : no in one ternary-logic step.
    static constexpr int kMaskYesNo = 0xCA;
    static KV_VECTOR_INLINE V select(V mask, V yes, V no) {
        return _mm512_ternarylogic_epi32(mask, yes, no, kMaskYesNo);
    }
    static KV_VECTOR_INLINE V minSigned(V a, V b) { return _mm512_min_epi32(a, b); }
    static KV_VECTOR_INLINE V maxSigned(V a, V b) { return _mm512_max_epi32(a, b); }
    static KV_VECTOR_INLINE V madd(V a, V b) { return _mm512_madd_epi16(a, b); }
    static KV_VECTOR_INLINE V mulRound15(V a, V b) { return _mm512_mulhrs_epi16(a, b); }
    static KV_VECTOR_INLINE V clampLevel(V a) { return maxSigned(minSigned(a, set1(255)), zero()); }
    static KV_VECTOR_INLINE V greyOfTopByte(V a) {
        // As the AVX2 form: byte 3 of each lane three times and a zero,
        // indexed within each 128-bit quarter.
        const V spread =
            _mm512_broadcast_i32x4(_mm_setr_epi8(3, 3, 3, -1, 7, 7, 7, -1, 11, 11, 11, -1, 15, 15, 15, -1));
        return _mm512_shuffle_epi8(a, spread);
    }
    static KV_VECTOR_INLINE int signMask(V a) { return static_cast<int>(_mm512_movepi32_mask(a)); }
    static KV_VECTOR_INLINE V sub16(V a, V b) { return _mm512_sub_epi16(a, b); }
    static KV_VECTOR_INLINE V add16(V a, V b) { return _mm512_add_epi16(a, b); }
    static KV_VECTOR_INLINE V xorv(V a, V b) { return _mm512_xor_si512(a, b); }
    template <int N>
    static KV_VECTOR_INLINE V sra16(V a) {
        return _mm512_srai_epi16(a, N);
    }
    static KV_VECTOR_INLINE V mulLow16(V a, V b) { return _mm512_mullo_epi16(a, b); }
    static KV_VECTOR_INLINE V mulHighUnsigned16(V a, V b) { return _mm512_mulhi_epu16(a, b); }
    static KV_VECTOR_INLINE V subSaturated16(V a, V b) { return _mm512_subs_epi16(a, b); }
    static KV_VECTOR_INLINE V max16(V a, V b) { return _mm512_max_epi16(a, b); }
    static KV_VECTOR_INLINE V min16(V a, V b) { return _mm512_min_epi16(a, b); }
    static KV_VECTOR_INLINE V srl64by32(V a) { return _mm512_srli_epi64(a, 32); }
    static KV_VECTOR_INLINE V minBytes(V a, V b) { return _mm512_min_epu8(a, b); }
    static KV_VECTOR_INLINE V maxBytes(V a, V b) { return _mm512_max_epu8(a, b); }
    static KV_VECTOR_INLINE V evenLanes(V a, V b) {
        const V even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        return _mm512_permutex2var_epi32(a, even, b);
    }
    static KV_VECTOR_INLINE V spreadLow(V a) {
        return _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7), a);
    }
    static KV_VECTOR_INLINE V spreadHigh(V a) {
        return _mm512_permutexvar_epi32(
            _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15), a);
    }
    static KV_VECTOR_INLINE V bytesToLanes(const uint8_t* p) {
        return _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static KV_VECTOR_INLINE V mulLow32(V a, V b) { return _mm512_mullo_epi32(a, b); }
    static KV_VECTOR_INLINE V wordsToLanes(const uint16_t* p) {
        return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
    template <int N>
    static KV_VECTOR_INLINE V sra(V a) {
        return _mm512_srai_epi32(a, N);
    }
    static KV_VECTOR_INLINE V packWords(V a, V b) { return _mm512_packs_epi32(a, b); }
    static KV_VECTOR_INLINE V packBytes(V a, V b) { return _mm512_packus_epi16(a, b); }
    static KV_VECTOR_INLINE V interleaveBytesLow(V a, V b) { return _mm512_unpacklo_epi8(a, b); }
    static KV_VECTOR_INLINE V interleaveBytesHigh(V a, V b) { return _mm512_unpackhi_epi8(a, b); }
    static KV_VECTOR_INLINE V interleaveWordsLow(V a, V b) { return _mm512_unpacklo_epi16(a, b); }
    static KV_VECTOR_INLINE V interleaveWordsHigh(V a, V b) { return _mm512_unpackhi_epi16(a, b); }
};
#endif

}  // namespace
