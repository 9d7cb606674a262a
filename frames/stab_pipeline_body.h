#pragma once
// The measurement's kernels, written once for any vector type. Each kernel translation unit
// includes this after defining its vector traits `V`:
//   F, lanes, Load/Store (aligned), Set1, Add, Sub, Mul, Div, Sqrt, Max, MulAdd (a*b+c),
//   MulSub (a*b-c), Transpose (lanes x lanes in place), HMax, EqualMask,
//   ColumnLuma (luma of 960 pixel columns summed over a few rows).
// Everything here has internal linkage, so the AVX2 unit's copies never mix with the SSE2 ones.
// No standard library calls: the AVX2 unit compiles this whole file for AVX2.
#include <emmintrin.h>

#include <cstdint>

#include "frames/stab_pipeline.h"

namespace {

// Sums 3, 4, 4, 4 pixel columns into four cells: the cell bounds repeat every 15 columns.
inline __m128i GroupOfFour(const int32_t* columns)
{
    const __m128i firstThree = _mm_setr_epi32(-1, -1, -1, 0);
    const __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(columns)), firstThree);
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + 3));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + 7));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + 11));
    // 4 x 4 transpose folded into the additions: lanes become [sum a, sum b, sum c, sum d].
    const __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));
    const __m128i cd = _mm_add_epi32(_mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d));
    return _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
}

template <class V>
double CellsKernel(const uint8_t* region, int32_t stride, const StabTables& t, StabWork& w)
{
    __m128d sumLow = _mm_setzero_pd();
    __m128d sumHigh = _mm_setzero_pd();
    for (int32_t j = 0; j < STAB_N; j++) {
        const int32_t rows = t.rowStart[j + 1] - t.rowStart[j];
        V::ColumnLuma(region + static_cast<intptr_t>(t.rowStart[j]) * stride, stride, rows, w.columnLuma);
        const __m128 invHeight = _mm_set1_ps(t.invRowHeight[j]);
        float* out = w.cells + j * STAB_N;
        for (int32_t i = 0; i < STAB_N; i += 4) {
            const __m128i sums = GroupOfFour(w.columnLuma + i / 4 * 15);
            // Same order as the definition: (sum x 1/(width x 256)) x 1/height.
            const __m128 cell = _mm_mul_ps(_mm_mul_ps(_mm_cvtepi32_ps(sums), _mm_load_ps(t.invColWidth + i)), invHeight);
            _mm_store_ps(out + i, cell);
            sumLow = _mm_add_pd(sumLow, _mm_cvtps_pd(cell));
            sumHigh = _mm_add_pd(sumHigh, _mm_cvtps_pd(_mm_movehl_ps(cell, cell)));
        }
    }
    double lanes[2];
    _mm_storeu_pd(lanes, _mm_add_pd(sumLow, sumHigh));
    return lanes[0] + lanes[1];
}

// t = w x (re, im), complex.
template <class V>
inline void Rotate(typename V::F re, typename V::F im, typename V::F wr, typename V::F wi, typename V::F& outRe,
                   typename V::F& outIm)
{
    outRe = V::MulSub(re, wr, V::Mul(im, wi));
    outIm = V::MulAdd(re, wi, V::Mul(im, wr));
}

// Radix-2 decimation in time on one block: 256 rows (already in bit-reversed order), each row
// `lanes` independent transforms (re lanes, then im lanes). Two stages run per pass over the
// block, so each element is loaded and stored four times instead of eight. No scaling.
template <class V, bool Inverse>
void BlockFft(float* b, const StabTables& t)
{
    using F = typename V::F;
    constexpr int32_t L = V::lanes;
    constexpr int32_t R = 2 * L;
    // Stages of size 2 and 4: twiddles 1 and -i (forward) or +i (inverse).
    for (int32_t g = 0; g < STAB_N; g += 4) {
        float* p = b + g * R;
        const F a0r = V::Load(p), a0i = V::Load(p + L);
        const F a1r = V::Load(p + R), a1i = V::Load(p + R + L);
        const F a2r = V::Load(p + 2 * R), a2i = V::Load(p + 2 * R + L);
        const F a3r = V::Load(p + 3 * R), a3i = V::Load(p + 3 * R + L);
        const F b0r = V::Add(a0r, a1r), b0i = V::Add(a0i, a1i);
        const F b1r = V::Sub(a0r, a1r), b1i = V::Sub(a0i, a1i);
        const F b2r = V::Add(a2r, a3r), b2i = V::Add(a2i, a3i);
        const F b3r = V::Sub(a2r, a3r), b3i = V::Sub(a2i, a3i);
        V::Store(p, V::Add(b0r, b2r));
        V::Store(p + L, V::Add(b0i, b2i));
        V::Store(p + 2 * R, V::Sub(b0r, b2r));
        V::Store(p + 2 * R + L, V::Sub(b0i, b2i));
        if constexpr (Inverse) {  // b1 +/- i b3
            V::Store(p + R, V::Sub(b1r, b3i));
            V::Store(p + R + L, V::Add(b1i, b3r));
            V::Store(p + 3 * R, V::Add(b1r, b3i));
            V::Store(p + 3 * R + L, V::Sub(b1i, b3r));
        } else {  // b1 -/+ i b3
            V::Store(p + R, V::Add(b1r, b3i));
            V::Store(p + R + L, V::Sub(b1i, b3r));
            V::Store(p + 3 * R, V::Sub(b1r, b3i));
            V::Store(p + 3 * R + L, V::Add(b1i, b3r));
        }
    }
    // Stage pairs (n, 2n) for n = 8, 32, 128. Elements k, k + n/2, k + n, k + 3n/2 of a group of
    // 2n stay closed under both stages.
    for (int32_t n = 8; n <= 128; n *= 4) {
        const int32_t h = n / 2;
        for (int32_t k = 0; k < h; k++) {
            const int32_t i1 = k * (STAB_N / n);
            const int32_t i2 = k * (STAB_N / 2 / n);
            const int32_t i3 = i2 + STAB_N / 4;
            const F w1r = V::Set1(t.twiddleRe[i1]), w1i = V::Set1(Inverse ? -t.twiddleIm[i1] : t.twiddleIm[i1]);
            const F w2r = V::Set1(t.twiddleRe[i2]), w2i = V::Set1(Inverse ? -t.twiddleIm[i2] : t.twiddleIm[i2]);
            const F w3r = V::Set1(t.twiddleRe[i3]), w3i = V::Set1(Inverse ? -t.twiddleIm[i3] : t.twiddleIm[i3]);
            for (int32_t g = 0; g < STAB_N; g += 2 * n) {
                float* p0 = b + (g + k) * R;
                float* p1 = p0 + h * R;
                float* p2 = p0 + n * R;
                float* p3 = p2 + h * R;
                F x0r = V::Load(p0), x0i = V::Load(p0 + L), x1r = V::Load(p1), x1i = V::Load(p1 + L);
                F x2r = V::Load(p2), x2i = V::Load(p2 + L), x3r = V::Load(p3), x3i = V::Load(p3 + L);
                F tr, ti;
                // Stage n: (x0, x1) and (x2, x3) with the same twiddle.
                Rotate<V>(x1r, x1i, w1r, w1i, tr, ti);
                x1r = V::Sub(x0r, tr);
                x1i = V::Sub(x0i, ti);
                x0r = V::Add(x0r, tr);
                x0i = V::Add(x0i, ti);
                Rotate<V>(x3r, x3i, w1r, w1i, tr, ti);
                x3r = V::Sub(x2r, tr);
                x3i = V::Sub(x2i, ti);
                x2r = V::Add(x2r, tr);
                x2i = V::Add(x2i, ti);
                // Stage 2n: (x0, x2) and (x1, x3).
                Rotate<V>(x2r, x2i, w2r, w2i, tr, ti);
                V::Store(p2, V::Sub(x0r, tr));
                V::Store(p2 + L, V::Sub(x0i, ti));
                V::Store(p0, V::Add(x0r, tr));
                V::Store(p0 + L, V::Add(x0i, ti));
                Rotate<V>(x3r, x3i, w3r, w3i, tr, ti);
                V::Store(p3, V::Sub(x1r, tr));
                V::Store(p3 + L, V::Sub(x1i, ti));
                V::Store(p1, V::Add(x1r, tr));
                V::Store(p1 + L, V::Add(x1i, ti));
            }
        }
    }
}

// Loads lanes x lanes floats (rows `stride` apart) and transposes them.
template <class V>
inline void LoadTransposed(const float* source, int32_t stride, typename V::F* rows)
{
    for (int32_t l = 0; l < V::lanes; l++) rows[l] = V::Load(source + l * stride);
    V::Transpose(rows);
}

template <class V>
void ForwardKernel(float mean, int32_t slot, const StabTables& t, StabWork& w)
{
    using F = typename V::F;
    constexpr int32_t L = V::lanes;
    constexpr int32_t R = 2 * L;
    constexpr int32_t H = STAB_N / 2;
    const F meanV = V::Set1(mean);
    const F half = V::Set1(0.5f);
    float* halfRe = w.half[0];
    float* halfIm = w.half[1];

    // Pass along x. Rows y = k and y = k + 128 travel as one complex row (real and imaginary
    // part); the lanes of a block are L consecutive k.
    for (int32_t k0 = 0; k0 < H; k0 += L) {
        const F windowLow = V::Load(t.window + k0);
        const F windowHigh = V::Load(t.window + k0 + H);
        for (int32_t x0 = 0; x0 < STAB_N; x0 += L) {
            F low[V::lanes], high[V::lanes];
            LoadTransposed<V>(w.cells + k0 * STAB_N + x0, STAB_N, low);
            LoadTransposed<V>(w.cells + (k0 + H) * STAB_N + x0, STAB_N, high);
            for (int32_t m = 0; m < L; m++) {
                const F wx = V::Set1(t.window[x0 + m]);
                float* row = w.block + t.bitReverse[x0 + m] * R;
                V::Store(row, V::Mul(V::Mul(V::Sub(low[m], meanV), wx), windowLow));
                V::Store(row + L, V::Mul(V::Mul(V::Sub(high[m], meanV), wx), windowHigh));
            }
        }
        BlockFft<V, false>(w.block, t);
        // Separate the two rows' spectra: Z = A + iB with A, B Hermitian, so
        // A[u] = (Z[u] + conj Z[-u]) / 2 and B[u] = (Z[u] - conj Z[-u]) / 2i.
        for (int32_t u = 0; u <= H; u++) {
            const float* zu = w.block + u * R;
            const float* zn = w.block + ((STAB_N - u) & (STAB_N - 1)) * R;
            const F ur = V::Load(zu), ui = V::Load(zu + L), nr = V::Load(zn), ni = V::Load(zn + L);
            V::Store(halfRe + u * STAB_N + k0, V::Mul(V::Add(ur, nr), half));
            V::Store(halfIm + u * STAB_N + k0, V::Mul(V::Sub(ui, ni), half));
            V::Store(halfRe + u * STAB_N + k0 + H, V::Mul(V::Add(ui, ni), half));
            V::Store(halfIm + u * STAB_N + k0 + H, V::Mul(V::Sub(nr, ur), half));
        }
    }

    // Pass along y for the spectrum columns u (129..135 are zero padding).
    float* spectrumRe = w.spectrum[slot][0];
    float* spectrumIm = w.spectrum[slot][1];
    for (int32_t u0 = 0; u0 < STAB_HALF_PADDED; u0 += L) {
        for (int32_t y0 = 0; y0 < STAB_N; y0 += L) {
            F re[V::lanes], im[V::lanes];
            LoadTransposed<V>(halfRe + u0 * STAB_N + y0, STAB_N, re);
            LoadTransposed<V>(halfIm + u0 * STAB_N + y0, STAB_N, im);
            for (int32_t m = 0; m < L; m++) {
                float* row = w.block + t.bitReverse[y0 + m] * R;
                V::Store(row, re[m]);
                V::Store(row + L, im[m]);
            }
        }
        BlockFft<V, false>(w.block, t);
        for (int32_t v = 0; v < STAB_N; v++) {
            V::Store(spectrumRe + v * STAB_HALF_PADDED + u0, V::Load(w.block + v * R));
            V::Store(spectrumIm + v * STAB_HALF_PADDED + u0, V::Load(w.block + v * R + L));
        }
    }
}

template <class V>
float CorrelateKernel(int32_t previous, int32_t current, const StabTables& t, StabWork& w, int32_t* peakIndex)
{
    using F = typename V::F;
    constexpr int32_t L = V::lanes;
    constexpr int32_t R = 2 * L;
    constexpr int32_t H = STAB_N / 2;
    const float* pRe = w.spectrum[previous][0];
    const float* pIm = w.spectrum[previous][1];
    const float* cRe = w.spectrum[current][0];
    const float* cIm = w.spectrum[current][1];
    float* halfRe = w.half[0];
    float* halfIm = w.half[1];
    const F tiny = V::Set1(1e-12f);

    // Inverse pass along v, fed directly by the normalised cross-power Q / |Q|, Q = conj(P) C.
    for (int32_t u0 = 0; u0 < STAB_HALF_PADDED; u0 += L) {
        for (int32_t v = 0; v < STAB_N; v++) {
            const int32_t at = v * STAB_HALF_PADDED + u0;
            const F ar = V::Load(pRe + at), ai = V::Load(pIm + at);
            const F br = V::Load(cRe + at), bi = V::Load(cIm + at);
            const F qr = V::MulAdd(ar, br, V::Mul(ai, bi));
            const F qi = V::MulSub(ar, bi, V::Mul(ai, br));
            const F magnitude = V::Max(V::Sqrt(V::MulAdd(qr, qr, V::Mul(qi, qi))), tiny);
            float* row = w.block + t.bitReverse[v] * R;
            V::Store(row, V::Div(qr, magnitude));
            V::Store(row + L, V::Div(qi, magnitude));
        }
        BlockFft<V, true>(w.block, t);
        // Out transposed, [u][y], only the real spectrum columns 0..128.
        for (int32_t y0 = 0; y0 < STAB_N; y0 += L) {
            F re[V::lanes], im[V::lanes];
            LoadTransposed<V>(w.block + y0 * R, R, re);
            LoadTransposed<V>(w.block + y0 * R + L, R, im);
            for (int32_t m = 0; m < L && u0 + m <= H; m++) {
                V::Store(halfRe + (u0 + m) * STAB_N + y0, re[m]);
                V::Store(halfIm + (u0 + m) * STAB_N + y0, im[m]);
            }
        }
    }

    // Inverse pass along u with real output. Each row of the previous pass is Hermitian in u
    // (Y[-u] = conj Y[u]), so rows y = k and y = k + 128 travel as W = Y_k + i Y_(k+128) and come
    // out as real and imaginary part.
    F best = V::Set1(-3.0e38f);
    for (int32_t k0 = 0; k0 < H; k0 += L) {
        for (int32_t u = 0; u < STAB_N; u++) {
            const int32_t source = (u <= H ? u : STAB_N - u) * STAB_N + k0;
            const F ar = V::Load(halfRe + source), ai = V::Load(halfIm + source);
            const F br = V::Load(halfRe + source + H), bi = V::Load(halfIm + source + H);
            float* row = w.block + t.bitReverse[u] * R;
            if (u <= H) {  // a + i b
                V::Store(row, V::Sub(ar, bi));
                V::Store(row + L, V::Add(ai, br));
            } else {  // conj(a) + i conj(b)
                V::Store(row, V::Add(ar, bi));
                V::Store(row + L, V::Sub(br, ai));
            }
        }
        BlockFft<V, true>(w.block, t);
        for (int32_t x0 = 0; x0 < STAB_N; x0 += L) {
            F low[V::lanes], high[V::lanes];
            LoadTransposed<V>(w.block + x0 * R, R, low);
            LoadTransposed<V>(w.block + x0 * R + L, R, high);
            for (int32_t m = 0; m < L; m++) {
                V::Store(w.surface + (k0 + m) * STAB_N + x0, low[m]);
                V::Store(w.surface + (k0 + H + m) * STAB_N + x0, high[m]);
                best = V::Max(best, V::Max(low[m], high[m]));
            }
        }
    }

    // The first maximum in row-major order.
    const float peak = V::HMax(best);
    const F peakV = V::Set1(peak);
    *peakIndex = -1;
    for (int32_t i = 0; i < STAB_N * STAB_N; i += L) {
        int32_t mask = V::EqualMask(V::Load(w.surface + i), peakV);
        if (mask != 0) {
            int32_t lane = 0;
            while (!(mask & 1)) mask >>= 1, lane++;
            *peakIndex = i + lane;
            break;
        }
    }
    return peak;
}

}  // namespace
