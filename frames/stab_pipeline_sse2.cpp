// The measurement's kernels on SSE2, which every x64 processor has.
#include <emmintrin.h>
#include <xmmintrin.h>

#include <cstdint>

#include "frames/stab_pipeline.h"

namespace {

struct VecSse2 {
    using F = __m128;
    static constexpr int32_t lanes = 4;
    static F Load(const float* p) { return _mm_load_ps(p); }
    static void Store(float* p, F v) { _mm_store_ps(p, v); }
    static F Set1(float v) { return _mm_set1_ps(v); }
    static F Add(F a, F b) { return _mm_add_ps(a, b); }
    static F Sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F Mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F Div(F a, F b) { return _mm_div_ps(a, b); }
    static F Sqrt(F a) { return _mm_sqrt_ps(a); }
    static F Max(F a, F b) { return _mm_max_ps(a, b); }
    static F MulAdd(F a, F b, F c) { return _mm_add_ps(_mm_mul_ps(a, b), c); }
    static F MulSub(F a, F b, F c) { return _mm_sub_ps(_mm_mul_ps(a, b), c); }
    static void Transpose(F* r) { _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]); }
    static float HMax(F v)
    {
        v = _mm_max_ps(v, _mm_movehl_ps(v, v));
        v = _mm_max_ss(v, _mm_shuffle_ps(v, v, 1));
        return _mm_cvtss_f32(v);
    }
    static int32_t EqualMask(F a, F b) { return _mm_movemask_ps(_mm_cmpeq_ps(a, b)); }

    // Per pixel column: 29 B + 150 G + 77 R summed over `rows` rows (integers, exact).
    static void ColumnLuma(const uint8_t* row, int32_t stride, int32_t rows, int32_t* out)
    {
        const __m128i weights = _mm_setr_epi16(29, 150, 77, 0, 29, 150, 77, 0);
        const __m128i zero = _mm_setzero_si128();
        for (int32_t x = 0; x < STAB_REGION_WIDTH; x += 4) {
            __m128i low = zero;   // pixels 0, 1: [29B + 150G, 77R] each
            __m128i high = zero;  // pixels 2, 3
            const uint8_t* p = row + x * 4;
            for (int32_t r = 0; r < rows; r++, p += stride) {
                const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi8(px, zero), weights));
                high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi8(px, zero), weights));
            }
            const __m128 lowF = _mm_castsi128_ps(low);
            const __m128 highF = _mm_castsi128_ps(high);
            const __m128i even = _mm_castps_si128(_mm_shuffle_ps(lowF, highF, _MM_SHUFFLE(2, 0, 2, 0)));
            const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(lowF, highF, _MM_SHUFFLE(3, 1, 3, 1)));
            _mm_store_si128(reinterpret_cast<__m128i*>(out + x), _mm_add_epi32(even, odd));
        }
    }
};

}  // namespace

#include "frames/stab_pipeline_body.h"

const StabKernelSet stabKernelsSse2 = {CellsKernel<VecSse2>, ForwardKernel<VecSse2>, CorrelateKernel<VecSse2>};
