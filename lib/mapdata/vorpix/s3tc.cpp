// S3TC (DXT1 and DXT5) block decompression to 32-bit ARGB.
#include "dds.h"

#include "byte_reader.hpp"
#include "c_boundary.hpp"
#include "vector_paths.hpp"

#include <array>
#include <cstdint>

#if defined(VORPIX_VECTOR_SSE2)
#include <emmintrin.h>
#endif
#if defined(VORPIX_VECTOR_AVX2)
#include <immintrin.h>
#endif

namespace {

// An 8-byte colour block (all of DXT1, the second half of DXT5) and a
// 16-byte DXT5 block, its alpha block first.
using ColourBlock = vorpix::BlockReader<8>;
using Dxt5Block = vorpix::BlockReader<16>;

// 5:6:5 endpoints expand with this shift-and-add form, not plain rounding:
// the 5-bit values 20, 25 and 29 and the 6-bit value 53 come out one lower.
constexpr std::array<std::uint8_t, 32> expand5 = [] {
    std::array<std::uint8_t, 32> out{};
    for (unsigned v = 0; v < 32; ++v) {
        const unsigned t = v * 255 + 16;
        out[v] = static_cast<std::uint8_t>(((t >> 5) + t) >> 5);
    }
    return out;
}();
constexpr std::array<std::uint8_t, 64> expand6 = [] {
    std::array<std::uint8_t, 64> out{};
    for (unsigned v = 0; v < 64; ++v) {
        const unsigned t = v * 255 + 32;
        out[v] = static_cast<std::uint8_t>(((t >> 6) + t) >> 6);
    }
    return out;
}();
static_assert(expand5[20] == 164 && expand5[25] == 205 && expand5[29] == 238 && expand5[31] == 255);
static_assert(expand6[53] == 214 && expand6[63] == 255);

inline std::uint32_t pack(unsigned a, unsigned r, unsigned g, unsigned b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// The four colours of a colour block, alpha 255. DXT5 blocks always take
// the four-colour form, whatever the order of their endpoints.
inline void colour_palette(ColourBlock block, bool dxt1, std::uint32_t palette[4]) {
    const unsigned c0 = block.le16<0>();
    const unsigned c1 = block.le16<2>();
    const unsigned r0 = expand5[c0 >> 11], g0 = expand6[(c0 >> 5) & 63], b0 = expand5[c0 & 31];
    const unsigned r1 = expand5[c1 >> 11], g1 = expand6[(c1 >> 5) & 63], b1 = expand5[c1 & 31];
    palette[0] = pack(255, r0, g0, b0);
    palette[1] = pack(255, r1, g1, b1);
    if (!dxt1 || c0 > c1) {
        palette[2] = pack(255, (2 * r0 + r1) / 3, (2 * g0 + g1) / 3, (2 * b0 + b1) / 3);
        palette[3] = pack(255, (r0 + 2 * r1) / 3, (g0 + 2 * g1) / 3, (b0 + 2 * b1) / 3);
    } else {
        palette[2] = pack(255, (r0 + r1) / 2, (g0 + g1) / 2, (b0 + b1) / 2);
        // The three-colour mode's fourth value is opaque black, not transparent.
        palette[3] = 0xFF000000u;
    }
}

// The eight alpha values of a DXT5 block, in the top byte. Both modes are
// computed and one is chosen by a mask: the order of the two alphas is as
// good as random from block to block, and a branch on it mispredicts.
inline void alpha_palette_portable(Dxt5Block block, std::uint32_t alpha[8]) {
    const unsigned a0 = block.u8<0>(), a1 = block.u8<1>();
    const unsigned eight = 0u - static_cast<unsigned>(a0 > a1);
    alpha[0] = a0 << 24;
    alpha[1] = a1 << 24;
    for (unsigned code = 2; code < 6; ++code) {
        const unsigned sevenths = ((8 - code) * a0 + (code - 1) * a1) / 7;
        const unsigned fifths = ((6 - code) * a0 + (code - 1) * a1) / 5;
        alpha[code] = ((sevenths & eight) | (fifths & ~eight)) << 24;
    }
    alpha[6] = (((2 * a0 + 5 * a1) / 7) & eight) << 24;
    alpha[7] = ((((a0 + 6 * a1) / 7) & eight) | (255 & ~eight)) << 24;
}

#if defined(VORPIX_VECTOR_SSE2)
constexpr bool have_sse2 = true;
// All eight codes at once in 16-bit lanes. The divisions by 7 and 5 are a
// multiply-high by 9363 and 13108, exact for numerators up to 7 * 255.
inline void alpha_palette_sse2(Dxt5Block block, std::uint32_t alpha[8]) {
    const __m128i a0 = _mm_set1_epi16(block.u8<0>()), a1 = _mm_set1_epi16(block.u8<1>());
    const __m128i sevenths = _mm_mulhi_epu16(_mm_add_epi16(_mm_mullo_epi16(_mm_setr_epi16(7, 0, 6, 5, 4, 3, 2, 1), a0),
                                                           _mm_mullo_epi16(_mm_setr_epi16(0, 7, 1, 2, 3, 4, 5, 6), a1)),
                                             _mm_set1_epi16(9363));
    const __m128i fifths = _mm_or_si128(
        _mm_mulhi_epu16(_mm_add_epi16(_mm_mullo_epi16(_mm_setr_epi16(5, 0, 4, 3, 2, 1, 0, 0), a0),
                                      _mm_mullo_epi16(_mm_setr_epi16(0, 5, 1, 2, 3, 4, 0, 0), a1)),
                        _mm_set1_epi16(13108)),
        _mm_setr_epi16(0, 0, 0, 0, 0, 0, 0, 255));
    const __m128i eight = _mm_cmpgt_epi16(a0, a1);
    const __m128i values = _mm_or_si128(_mm_and_si128(eight, sevenths), _mm_andnot_si128(eight, fifths));
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i *>(alpha), _mm_slli_epi32(_mm_unpacklo_epi16(values, zero), 24));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(alpha + 4), _mm_slli_epi32(_mm_unpackhi_epi16(values, zero), 24));
}
#else
constexpr bool have_sse2 = false;
inline void alpha_palette_sse2(Dxt5Block block, std::uint32_t alpha[8]) { alpha_palette_portable(block, alpha); }
#endif

// columns is 4 for a whole block, fewer at the image's right edge.
template <bool Whole>
inline void write_dxt1(const unsigned char *data, unsigned int *out, unsigned long width, unsigned long columns) {
    const ColourBlock block(data);
    std::uint32_t palette[4];
    colour_palette(block, true, palette);
    std::uint32_t indices = block.le32<4>();
    for (int j = 0; j < 4; ++j, out += width, indices >>= 8) {
        if (Whole) {
            out[0] = palette[indices & 3];
            out[1] = palette[(indices >> 2) & 3];
            out[2] = palette[(indices >> 4) & 3];
            out[3] = palette[(indices >> 6) & 3];
        } else {
            for (unsigned long i = 0; i < columns; ++i) out[i] = palette[(indices >> (2 * i)) & 3];
        }
    }
}

template <bool Whole, bool Sse2>
inline void write_dxt5(const unsigned char *data, unsigned int *out, unsigned long width, unsigned long columns) {
    const Dxt5Block block(data);
    std::uint32_t alpha[8], palette[4];
    if constexpr (Sse2) alpha_palette_sse2(block, alpha);
    else alpha_palette_portable(block, alpha);
    const ColourBlock colour = block.from<8>();
    colour_palette(colour, false, palette);
    for (auto &c : palette) c &= 0x00FFFFFFu;
    std::uint64_t alpha_codes = block.le64<0>() >> 16;  // 48 bits after the two alphas
    std::uint32_t indices = colour.le32<4>();
    for (int j = 0; j < 4; ++j, out += width, indices >>= 8, alpha_codes >>= 12) {
        if (Whole) {
            out[0] = palette[indices & 3] | alpha[alpha_codes & 7];
            out[1] = palette[(indices >> 2) & 3] | alpha[(alpha_codes >> 3) & 7];
            out[2] = palette[(indices >> 4) & 3] | alpha[(alpha_codes >> 6) & 7];
            out[3] = palette[(indices >> 6) & 3] | alpha[(alpha_codes >> 9) & 7];
        } else {
            for (unsigned long i = 0; i < columns; ++i)
                out[i] = palette[(indices >> (2 * i)) & 3] | alpha[(alpha_codes >> (3 * i)) & 7];
        }
    }
}

#if defined(VORPIX_VECTOR_AVX2)
// Two neighbouring blocks at once, the first in the low 128-bit half of each
// vector and the second in the high one: each row of both is eight pixels
// in a row of the image, one store. A pair's 16 (DXT1) or 32 (DXT5) bytes are
// read in one load, as the image loop vouches for them.
//
// The palettes in 16-bit lanes, blue, green, red and alpha of the first
// endpoint and then of the second, as the portable path computes them: the
// 5:6:5 fields are cut out and the shift-and-add expansion done by
// multiplies (a multiply-high by 2^(16-s) is a shift right by s, different
// in each lane), and the thirds are a multiply-high by 21846, exact for
// numerators up to 3 * 255. Packed to bytes, each half holds its block's
// four colours in order.
//
// words holds in each half the block's endpoints (its first 32 bits) in
// every 32-bit lane. DXT5 colours come with alpha 0, for the alpha to be
// added.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i colour_palettes_avx2(__m256i words, bool dxt1) {
    // The first endpoint in the four low 16-bit lanes of each half, the second in the others.
    const __m256i c = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(words, 0x00), 0x55);
    const __m256i up = _mm256_setr_epi16(1 << 11, 1 << 5, 1, 0, 1 << 11, 1 << 5, 1, 0, 1 << 11, 1 << 5, 1, 0, 1 << 11,
                                         1 << 5, 1, 0);
    const __m256i down = _mm256_setr_epi16(1 << 5, 1 << 6, 1 << 5, 0, 1 << 5, 1 << 6, 1 << 5, 0, 1 << 5, 1 << 6, 1 << 5,
                                           0, 1 << 5, 1 << 6, 1 << 5, 0);
    const __m256i field = _mm256_mulhi_epu16(_mm256_mullo_epi16(c, up), down);
    const __m256i half = _mm256_setr_epi16(16, 32, 16, 0, 16, 32, 16, 0, 16, 32, 16, 0, 16, 32, 16, 0);
    const __m256i bits = _mm256_setr_epi16(1 << 11, 1 << 10, 1 << 11, 0, 1 << 11, 1 << 10, 1 << 11, 0, 1 << 11, 1 << 10,
                                           1 << 11, 0, 1 << 11, 1 << 10, 1 << 11, 0);
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(field, _mm256_set1_epi16(255)), half);
    __m256i ends = _mm256_mulhi_epu16(_mm256_add_epi16(t, _mm256_mulhi_epu16(t, bits)), bits);
    if (dxt1) ends = _mm256_or_si256(ends, _mm256_setr_epi16(0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255));
    const __m256i swapped = _mm256_shuffle_epi32(ends, 0x4E);  // the second endpoint first
    __m256i between = _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(ends, ends), swapped),
                                         _mm256_set1_epi16(21846));
    if (dxt1) {
        // Three colours where the first endpoint is not the greater: the
        // halfway colour, then opaque black.
        const __m256i sign = _mm256_set1_epi16(static_cast<short>(0x8000));
        const __m256i greater = _mm256_shuffle_epi32(
            _mm256_cmpgt_epi16(_mm256_xor_si256(c, sign), _mm256_xor_si256(_mm256_shuffle_epi32(c, 0x4E), sign)), 0x44);
        const __m256i halfway = _mm256_or_si256(
            _mm256_and_si256(_mm256_srli_epi16(_mm256_add_epi16(ends, swapped), 1),
                             _mm256_setr_epi16(-1, -1, -1, -1, 0, 0, 0, 0, -1, -1, -1, -1, 0, 0, 0, 0)),
            _mm256_setr_epi16(0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 255));
        between = _mm256_blendv_epi8(halfway, between, greater);
    }
    return _mm256_packus_epi16(ends, between);
}

// raw's 32-bit word first in every lane of the low half, its word second in
// every lane of the high half.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i spread_words_avx2(__m256i raw, int first, int second) {
    return _mm256_permutevar8x32_epi32(raw,
                                       _mm256_setr_epi32(first, first, first, first, second, second, second, second));
}

// The colour of each pixel of a row: its two bits of the indices picking one
// of its block's four colours.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i pick_colours_avx2(__m256i palette, __m256i indices) {
    const __m256i pick = _mm256_add_epi32(
        _mm256_and_si256(_mm256_srlv_epi32(indices, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)), _mm256_set1_epi32(3)),
        _mm256_setr_epi32(0, 0, 0, 0, 4, 4, 4, 4));
    return _mm256_permutevar8x32_epi32(palette, pick);
}

[[gnu::target("avx2")]] inline void write_dxt1_pair_avx2(const unsigned char *data, unsigned int *out,
                                                         unsigned long width) {
    __m128i pair;
    vorpix::BlockReader<2 * 8>(data).copy<0, 16>(&pair);
    const __m256i raw = _mm256_castsi128_si256(pair);
    const __m256i palette = colour_palettes_avx2(spread_words_avx2(raw, 0, 2), true);
    __m256i indices = spread_words_avx2(raw, 1, 3);
    for (int j = 0; j < 4; ++j, out += width, indices = _mm256_srli_epi32(indices, 8))
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), pick_colours_avx2(palette, indices));
}

// The eight alpha values of each of two DXT5 blocks, in the top byte of
// 32-bit lanes, as alpha_palette_sse2 computes them for one; the first
// block's in first.
[[gnu::target("avx2"), gnu::always_inline]] inline void alpha_palettes_avx2(__m256i raw, __m256i &first,
                                                                            __m256i &second) {
    const __m256i both = _mm256_shufflelo_epi16(_mm256_shufflehi_epi16(spread_words_avx2(raw, 0, 4), 0x00), 0x00);
    const __m256i a0 = _mm256_and_si256(both, _mm256_set1_epi16(0xFF)), a1 = _mm256_srli_epi16(both, 8);
    const __m256i sevenths = _mm256_mulhi_epu16(
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_setr_epi16(7, 0, 6, 5, 4, 3, 2, 1, 7, 0, 6, 5, 4, 3, 2, 1), a0),
                         _mm256_mullo_epi16(_mm256_setr_epi16(0, 7, 1, 2, 3, 4, 5, 6, 0, 7, 1, 2, 3, 4, 5, 6), a1)),
        _mm256_set1_epi16(9363));
    const __m256i fifths = _mm256_or_si256(
        _mm256_mulhi_epu16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_setr_epi16(5, 0, 4, 3, 2, 1, 0, 0, 5, 0, 4, 3, 2, 1, 0, 0), a0),
                             _mm256_mullo_epi16(_mm256_setr_epi16(0, 5, 1, 2, 3, 4, 0, 0, 0, 5, 1, 2, 3, 4, 0, 0), a1)),
            _mm256_set1_epi16(13108)),
        _mm256_setr_epi16(0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 255));
    const __m256i eight = _mm256_cmpgt_epi16(a0, a1);
    const __m256i values = _mm256_or_si256(_mm256_and_si256(eight, sevenths), _mm256_andnot_si256(eight, fifths));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low = _mm256_unpacklo_epi16(values, zero), high = _mm256_unpackhi_epi16(values, zero);
    first = _mm256_slli_epi32(_mm256_permute2x128_si256(low, high, 0x20), 24);
    second = _mm256_slli_epi32(_mm256_permute2x128_si256(low, high, 0x31), 24);
}

[[gnu::target("avx2")]] inline void write_dxt5_pair_avx2(const unsigned char *data, unsigned int *out,
                                                         unsigned long width) {
    __m256i raw;
    vorpix::BlockReader<2 * 16>(data).copy<0, 32>(&raw);
    const __m256i palette = colour_palettes_avx2(spread_words_avx2(raw, 2, 6), false);
    __m256i indices = spread_words_avx2(raw, 3, 7);
    __m256i first, second;
    alpha_palettes_avx2(raw, first, second);
    // The 48 bits of alpha codes: rows 0 and 1 in the low 24 bits of one
    // word, rows 2 and 3 of the next.
    const __m256i codes[2] = {spread_words_avx2(_mm256_srli_epi64(raw, 16), 0, 4),
                              spread_words_avx2(_mm256_srli_epi64(raw, 40), 0, 4)};
    for (int j = 0; j < 4; ++j, out += width, indices = _mm256_srli_epi32(indices, 8)) {
        const __m256i shift = _mm256_add_epi32(_mm256_setr_epi32(0, 3, 6, 9, 0, 3, 6, 9),
                                               _mm256_set1_epi32(12 * (j & 1)));
        const __m256i code = _mm256_and_si256(_mm256_srlv_epi32(codes[j >> 1], shift), _mm256_set1_epi32(7));
        const __m256i alpha = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(first, code),
                                                 _mm256_permutevar8x32_epi32(second, code), 0xF0);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out),
                            _mm256_or_si256(pick_colours_avx2(palette, indices), alpha));
    }
}

template <size_t BlockSize, void (*Pair)(const unsigned char *, unsigned int *, unsigned long),
          void (*Whole)(const unsigned char *, unsigned int *, unsigned long, unsigned long),
          void (*Part)(const unsigned char *, unsigned int *, unsigned long, unsigned long)>
[[gnu::target("avx2")]] void decompress_image_avx2(unsigned long width, unsigned long height,
                                                   const unsigned char *blocks, unsigned int *image) {
    const unsigned long count_x = (width + 3) / 4, count_y = (height + 3) / 4;
    const unsigned long whole = width / 4;
    for (unsigned long by = 0; by < count_y; ++by) {
        unsigned int *row = image + 4 * by * width;
        unsigned long bx = 0;
        for (; bx + 2 <= whole; bx += 2, blocks += 2 * BlockSize) Pair(blocks, row + 4 * bx, width);
        for (; bx < whole; ++bx, blocks += BlockSize) Whole(blocks, row + 4 * bx, width, 4);
        if (whole < count_x) {
            Part(blocks, row + 4 * whole, width, width - 4 * whole);
            blocks += BlockSize;
        }
    }
}
#endif

inline unsigned long columns_left(unsigned long x, unsigned long width) {
    return x >= width ? 0 : (width - x < 4 ? width - x : 4);
}

template <size_t BlockSize, void (*Whole)(const unsigned char *, unsigned int *, unsigned long, unsigned long),
          void (*Part)(const unsigned char *, unsigned int *, unsigned long, unsigned long)>
void decompress_image(unsigned long width, unsigned long height, const unsigned char *blocks, unsigned int *image) {
    const unsigned long count_x = (width + 3) / 4, count_y = (height + 3) / 4;
    const unsigned long whole = width / 4;
    for (unsigned long by = 0; by < count_y; ++by) {
        unsigned int *row = image + 4 * by * width;
        for (unsigned long bx = 0; bx < whole; ++bx, blocks += BlockSize) Whole(blocks, row + 4 * bx, width, 4);
        if (whole < count_x) {
            Part(blocks, row + 4 * whole, width, width - 4 * whole);
            blocks += BlockSize;
        }
    }
}

}  // namespace

extern "C" {

unsigned int PackARGB(unsigned char a, unsigned char r, unsigned char g, unsigned char b) {
    return vorpix::guarded("PackARGB", 0u, [&] { return pack(a, r, g, b); });
}

void DecompressBlockDXT1(unsigned long x, unsigned long y, unsigned long width, const unsigned char *blockStorage,
                         unsigned int *image) {
    vorpix::guarded("DecompressBlockDXT1", [&] {
        if (const unsigned long columns = columns_left(x, width))
            write_dxt1<false>(blockStorage, image + y * width + x, width, columns);
    });
}

void DecompressBlockDXT5(unsigned long x, unsigned long y, unsigned long width, const unsigned char *blockStorage,
                         unsigned int *image) {
    vorpix::guarded("DecompressBlockDXT5", [&] {
        if (const unsigned long columns = columns_left(x, width)) {
            if (have_sse2 && vorpix::use_sse2())
                write_dxt5<false, true>(blockStorage, image + y * width + x, width, columns);
            else write_dxt5<false, false>(blockStorage, image + y * width + x, width, columns);
        }
    });
}

void BlockDecompressImageDXT1(unsigned long width, unsigned long height, const unsigned char *blockStorage,
                              unsigned int *image) {
    vorpix::guarded("BlockDecompressImageDXT1", [&] {
#if defined(VORPIX_VECTOR_AVX2)
        if (vorpix::use_avx2()) {
            decompress_image_avx2<8, write_dxt1_pair_avx2, write_dxt1<true>, write_dxt1<false>>(width, height,
                                                                                                blockStorage, image);
            return;
        }
#endif
        decompress_image<8, write_dxt1<true>, write_dxt1<false>>(width, height, blockStorage, image);
    });
}

void BlockDecompressImageDXT5(unsigned long width, unsigned long height, const unsigned char *blockStorage,
                              unsigned int *image) {
    vorpix::guarded("BlockDecompressImageDXT5", [&] {
#if defined(VORPIX_VECTOR_AVX2) && defined(VORPIX_VECTOR_SSE2)
        if (vorpix::use_avx2()) {
            decompress_image_avx2<16, write_dxt5_pair_avx2, write_dxt5<true, true>, write_dxt5<false, true>>(
                width, height, blockStorage, image);
            return;
        }
#endif
        if (have_sse2 && vorpix::use_sse2())
            decompress_image<16, write_dxt5<true, true>, write_dxt5<false, true>>(width, height, blockStorage, image);
        else
            decompress_image<16, write_dxt5<true, false>, write_dxt5<false, false>>(width, height, blockStorage, image);
    });
}

}  // extern "C"
