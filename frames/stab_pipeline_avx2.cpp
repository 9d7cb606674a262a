// The measurement's kernels on AVX2 with FMA, chosen at run time when the processor has them.
// Every function of this unit is compiled for AVX2: with GCC through the target pragma below
// (MSVC compiles the intrinsics without it). Standard headers come first so that no inline
// library function is compiled for AVX2 and shared with code that runs anywhere.
#include <emmintrin.h>
#include <immintrin.h>

#include <cstdint>

#include "frames/stab_pipeline.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC target("avx2,fma")
#elif defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#endif

namespace {

struct VecAvx2 {
    using F = __m256;
    static constexpr int32_t lanes = 8;
    static F Load(const float* p) { return _mm256_load_ps(p); }
    static void Store(float* p, F v) { _mm256_store_ps(p, v); }
    static F Set1(float v) { return _mm256_set1_ps(v); }
    static F Add(F a, F b) { return _mm256_add_ps(a, b); }
    static F Sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F Mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F Div(F a, F b) { return _mm256_div_ps(a, b); }
    static F Sqrt(F a) { return _mm256_sqrt_ps(a); }
    static F Max(F a, F b) { return _mm256_max_ps(a, b); }
    static F MulAdd(F a, F b, F c) { return _mm256_fmadd_ps(a, b, c); }
    static F MulSub(F a, F b, F c) { return _mm256_fmsub_ps(a, b, c); }
    static void Transpose(F* r)
    {
        const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
        const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
        const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
        const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
        const __m256 s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
        const __m256 s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
        const __m256 s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
        const __m256 s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
        r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
        r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
        r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
        r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
        r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
        r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
        r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
        r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
    }
    static float HMax(F v)
    {
        __m128 m = _mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
        m = _mm_max_ps(m, _mm_movehl_ps(m, m));
        m = _mm_max_ss(m, _mm_shuffle_ps(m, m, 1));
        return _mm_cvtss_f32(m);
    }
    static int32_t EqualMask(F a, F b) { return _mm256_movemask_ps(_mm256_cmp_ps(a, b, _CMP_EQ_OQ)); }

    // Per pixel column: 29 B + 150 G + 77 R summed over `rows` rows. Green is split 99 + 51 so
    // that each 16-bit half stays below 32768: bytes B G R A become B G R G, weighted
    // (29, 99) and (77, 51) pairwise, then the halves are added in 32 bits.
    static void ColumnLuma(const uint8_t* row, int32_t stride, int32_t rows, int32_t* out)
    {
        const __m256i bgrg = _mm256_setr_epi8(0, 1, 2, 1, 4, 5, 6, 5, 8, 9, 10, 9, 12, 13, 14, 13,  //
                                              0, 1, 2, 1, 4, 5, 6, 5, 8, 9, 10, 9, 12, 13, 14, 13);
        const __m256i weights = _mm256_set1_epi32(29 | (99 << 8) | (77 << 16) | (51 << 24));
        const __m256i ones = _mm256_set1_epi16(1);
        for (int32_t x = 0; x < STAB_REGION_WIDTH; x += 8) {
            __m256i sum = _mm256_setzero_si256();
            const uint8_t* p = row + x * 4;
            for (int32_t r = 0; r < rows; r++, p += stride) {
                const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
                const __m256i halves = _mm256_maddubs_epi16(_mm256_shuffle_epi8(px, bgrg), weights);
                sum = _mm256_add_epi32(sum, _mm256_madd_epi16(halves, ones));
            }
            _mm256_store_si256(reinterpret_cast<__m256i*>(out + x), sum);
        }
    }
};

}  // namespace

#include "frames/stab_pipeline_body.h"

#if defined(__clang__)
#pragma clang attribute pop
#endif

const StabKernelSet stabKernelsAvx2 = {CellsKernel<VecAvx2>, ForwardKernel<VecAvx2>, CorrelateKernel<VecAvx2>};
