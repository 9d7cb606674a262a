#include "frames/stab_measure.h"

#include <atomic>
#include <cmath>

#if defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#endif

#if !(defined(__x86_64__) || defined(_M_X64))
#error "the stabiliser's measurement is written for x64 (SSE2 baseline)"
#endif

namespace {

// Tables, working memory and the chosen kernels; used only by the one caller at a time.
StabTables tables;
bool tablesReady = false;
StabWork work;
const StabKernelSet* kernels = nullptr;
#ifdef MIRU_TEST_HOOKS
std::atomic<void (*)(StabShift*)> hook{nullptr};
#endif

// Cells are 3.75 pixels wide and 2.109375 rows high on average.
constexpr double cellWidth = double(STAB_REGION_WIDTH) / STAB_N;
constexpr double cellHeight = double(STAB_REGION_HEIGHT) / STAB_N;

void EnsureReady()
{
    if (!tablesReady) {
        StabTablesBuild(tables);
        tablesReady = true;
    }
    if (!kernels) kernels = StabCpuHasAvx2() ? &stabKernelsAvx2 : &stabKernelsSse2;
}

}  // namespace

bool StabCpuHasAvx2()
{
#if defined(_MSC_VER) && !defined(__clang__)
    int info[4];
    __cpuid(info, 0);
    if (info[0] < 7) return false;
    __cpuid(info, 1);
    const bool fma = (info[2] & (1 << 12)) != 0;
    const bool osxsave = (info[2] & (1 << 27)) != 0;
    const bool avx = (info[2] & (1 << 28)) != 0;
    if (!fma || !osxsave || !avx) return false;
    if ((_xgetbv(0) & 6) != 6) return false;  // the system saves the YMM registers
    __cpuidex(info, 7, 0);
    return (info[1] & (1 << 5)) != 0;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#endif
}

bool StabMeasureSelectKernels(int32_t choice)
{
    switch (choice) {
    case STAB_KERNELS_SSE2:
        kernels = &stabKernelsSse2;
        return true;
    case STAB_KERNELS_AVX2:
        if (!StabCpuHasAvx2()) return false;
        kernels = &stabKernelsAvx2;
        return true;
    default:
        kernels = nullptr;
        EnsureReady();
        return true;
    }
}

void StabTablesBuild(StabTables& t)
{
    const double pi = 3.14159265358979323846;
    for (int32_t k = 0; k < STAB_N; k++) {
        int32_t reversed = 0;
        for (int32_t bit = 0; bit < 8; bit++)
            if (k & (1 << bit)) reversed |= 1 << (7 - bit);
        t.bitReverse[k] = static_cast<uint8_t>(reversed);
        t.window[k] = static_cast<float>((1.0 - std::cos(2.0 * pi * k / STAB_N)) * 0.5);
    }
    for (int32_t k = 0; k < STAB_N / 2; k++) {
        const double angle = -2.0 * pi * k / STAB_N;
        t.twiddleRe[k] = static_cast<float>(std::cos(angle));
        t.twiddleIm[k] = static_cast<float>(std::sin(angle));
    }
    for (int32_t i = 0; i <= STAB_N; i++) {
        t.colStart[i] = STAB_REGION_WIDTH * i / STAB_N;
        t.rowStart[i] = STAB_REGION_HEIGHT * i / STAB_N;
    }
    for (int32_t i = 0; i < STAB_N; i++) {
        t.invColWidth[i] = 1.0f / static_cast<float>((t.colStart[i + 1] - t.colStart[i]) * 256);
        t.invRowHeight[i] = 1.0f / static_cast<float>(t.rowStart[i + 1] - t.rowStart[i]);
    }
}

namespace {

int32_t SignedCells(int32_t peak)
{
    return peak <= STAB_N / 2 ? peak : peak - STAB_N;
}

// Vertex of the parabola through (-1, left), (0, peak), (1, right), limited to half a cell.
float SubCellOffset(float left, float peak, float right)
{
    const float d = left - 2.0f * peak + right;
    if (!(std::fabs(d) > 1e-12f)) return 0.0f;
    const float offset = (left - right) * 0.5f / d;
    if (offset < -0.5f) return -0.5f;
    if (offset > 0.5f) return 0.5f;
    return offset;
}

}  // namespace

StabShift StabShiftFromSurface(const float* s, int32_t index)
{
    const int32_t px = index % STAB_N;
    const int32_t py = index / STAB_N;
    const float peak = s[index];
    const int32_t left = (px + STAB_N - 1) % STAB_N, right = (px + 1) % STAB_N;
    const int32_t up = (py + STAB_N - 1) % STAB_N, down = (py + 1) % STAB_N;
    const float offsetX = SubCellOffset(s[py * STAB_N + left], peak, s[py * STAB_N + right]);
    const float offsetY = SubCellOffset(s[up * STAB_N + px], peak, s[down * STAB_N + px]);
    StabShift shift{};
    shift.peakX = px;
    shift.peakY = py;
    shift.peakValue = peak;
    shift.shiftX = (SignedCells(px) + static_cast<double>(offsetX)) * cellWidth;
    shift.shiftY = (SignedCells(py) + static_cast<double>(offsetY)) * cellHeight;
    return shift;
}

void StabMeasureForward(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride, int32_t slot)
{
    EnsureReady();
    const int32_t x0 = (width - STAB_REGION_WIDTH) / 2;
    const int32_t y0 = (height - STAB_REGION_HEIGHT) / 2;
    const uint8_t* region = pixels + static_cast<intptr_t>(y0) * stride + static_cast<intptr_t>(x0) * 4;
    const double sum = kernels->cells(region, stride, tables, work);
    const float mean = static_cast<float>(sum * (1.0 / (STAB_N * STAB_N)));
    kernels->forward(mean, slot & 1, tables, work);
}

StabShift StabMeasureCorrelate(int32_t previous, int32_t current)
{
    EnsureReady();
    int32_t index = -1;
    const float peak = kernels->correlate(previous & 1, current & 1, tables, work, &index);
    StabShift shift{};
    if (index < 0) {  // the largest value was not a number
        shift.peakValue = peak;
        shift.shiftX = shift.shiftY = NAN;
    } else {
        shift = StabShiftFromSurface(work.surface, index);
    }
#ifdef MIRU_TEST_HOOKS
    if (void (*h)(StabShift*) = hook.load(std::memory_order_acquire)) h(&shift);
#endif
    return shift;
}

#ifdef MIRU_TEST_HOOKS
void StabMeasureSetHookForTest(void (*h)(StabShift* shift))
{
    hook.store(h, std::memory_order_release);
}
#endif
