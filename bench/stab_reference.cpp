#include "bench/stab_reference.h"

#include <cmath>

namespace {

constexpr int32_t N = 256;

struct Tables {
    int32_t bitReverse[N];
    float window[N];
    std::complex<float> twiddle[N / 2];
    int32_t colStart[N + 1];
    int32_t rowStart[N + 1];
    float invColWidth[N];
};

const Tables& GetTables()
{
    static const Tables tables = [] {
        Tables t{};
        const double pi = 3.14159265358979323846;
        for (int32_t k = 0; k < N; k++) {
            int32_t r = 0;
            for (int32_t bit = 0; bit < 8; bit++)
                if (k & (1 << bit)) r |= 1 << (7 - bit);
            t.bitReverse[k] = r;
            t.window[k] = static_cast<float>((1.0 - std::cos(2.0 * pi * k / 256.0)) * 0.5);
        }
        for (int32_t k = 0; k < N / 2; k++) {
            const double angle = -2.0 * pi * k / 256.0;
            t.twiddle[k] = {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
        }
        for (int32_t i = 0; i <= N; i++) {
            t.colStart[i] = 960 * i / 256;
            t.rowStart[i] = 540 * i / 256;
        }
        for (int32_t i = 0; i < N; i++)
            t.invColWidth[i] = 1.0f / static_cast<float>((t.colStart[i + 1] - t.colStart[i]) * 256);
        return t;
    }();
    return tables;
}

void Fft256(std::complex<float>* x, bool inverse)
{
    const Tables& t = GetTables();
    std::complex<float> copy[N];
    for (int32_t k = 0; k < N; k++) copy[t.bitReverse[k]] = x[k];
    for (int32_t k = 0; k < N; k++) x[k] = copy[k];
    for (int32_t n = 2; n <= N; n *= 2) {
        for (int32_t group = 0; group < N; group += n) {
            for (int32_t k = 0; k < n / 2; k++) {
                std::complex<float> w = t.twiddle[k * (N / n)];
                if (inverse) w = std::conj(w);
                const std::complex<float> tt = w * x[group + k + n / 2];
                x[group + k + n / 2] = x[group + k] - tt;
                x[group + k] = x[group + k] + tt;
            }
        }
    }
}

void Fft2d(std::complex<float>* data, bool inverse)
{
    for (int32_t row = 0; row < N; row++) Fft256(data + row * N, inverse);
    std::complex<float> column[N];
    for (int32_t col = 0; col < N; col++) {
        for (int32_t row = 0; row < N; row++) column[row] = data[row * N + col];
        Fft256(column, inverse);
        for (int32_t row = 0; row < N; row++) data[row * N + col] = column[row];
    }
}

float SubCellOffset(float left, float peak, float right)
{
    const float d = left - 2.0f * peak + right;
    if (!(std::fabs(d) > 1e-12f)) return 0.0f;
    float offset = (left - right) * 0.5f / d;
    if (offset < -0.5f) offset = -0.5f;
    if (offset > 0.5f) offset = 0.5f;
    return offset;
}

}  // namespace

std::vector<float> ReferenceCells(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride)
{
    const Tables& t = GetTables();
    const int32_t x0 = (width - 960) / 2;
    const int32_t y0 = (height - 540) / 2;
    std::vector<float> cells(N * N);
    for (int32_t j = 0; j < N; j++) {
        uint32_t accumulator[N] = {};
        for (int32_t y = y0 + t.rowStart[j]; y < y0 + t.rowStart[j + 1]; y++) {
            const uint8_t* row = pixels + static_cast<int64_t>(y) * stride;
            for (int32_t i = 0; i < N; i++) {
                for (int32_t x = x0 + t.colStart[i]; x < x0 + t.colStart[i + 1]; x++) {
                    const uint8_t* p = row + x * 4;
                    accumulator[i] += 29u * p[0] + 150u * p[1] + 77u * p[2];
                }
            }
        }
        const float invHeight = 1.0f / static_cast<float>(t.rowStart[j + 1] - t.rowStart[j]);
        for (int32_t i = 0; i < N; i++)
            cells[j * N + i] = static_cast<float>(accumulator[i]) * t.invColWidth[i] * invHeight;
    }
    return cells;
}

ReferenceSpectrum ReferenceForward(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride)
{
    // The cells with their mean removed, under the window.
    const Tables& t = GetTables();
    std::vector<float> cells = ReferenceCells(pixels, width, height, stride);
    double sum = 0.0;
    for (float c : cells) sum += c;
    const float mean = static_cast<float>(sum * 1.52587890625e-5);
    ReferenceSpectrum spectrum(N * N);
    for (int32_t j = 0; j < N; j++)
        for (int32_t i = 0; i < N; i++)
            spectrum[j * N + i] = {(cells[j * N + i] - mean) * t.window[i] * t.window[j], 0.0f};
    Fft2d(spectrum.data(), false);
    return spectrum;
}

ReferenceResult ReferenceCorrelate(ReferenceSpectrum& previous, const ReferenceSpectrum& current)
{
    for (int32_t k = 0; k < N * N; k++) {
        const std::complex<float> q = std::conj(previous[k]) * current[k];
        const float magnitude = std::abs(q);
        previous[k] = q / (magnitude > 1e-12f ? magnitude : 1e-12f);
    }
    Fft2d(previous.data(), true);

    int32_t best = 0;
    for (int32_t k = 1; k < N * N; k++)
        if (previous[k].real() > previous[best].real()) best = k;
    ReferenceResult r{};
    r.peakX = best % N;
    r.peakY = best / N;
    r.peakValue = previous[best].real();
    const float offsetX = SubCellOffset(previous[r.peakY * N + (r.peakX + N - 1) % N].real(), r.peakValue,
                                        previous[r.peakY * N + (r.peakX + 1) % N].real());
    const float offsetY = SubCellOffset(previous[((r.peakY + N - 1) % N) * N + r.peakX].real(), r.peakValue,
                                        previous[((r.peakY + 1) % N) * N + r.peakX].real());
    const int32_t cellsX = r.peakX <= 128 ? r.peakX : r.peakX - N;
    const int32_t cellsY = r.peakY <= 128 ? r.peakY : r.peakY - N;
    r.shiftX = (cellsX + static_cast<double>(offsetX)) * 3.75;
    r.shiftY = (cellsY + static_cast<double>(offsetY)) * 2.109375;
    return r;
}
