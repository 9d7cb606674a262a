// Speed of the stabiliser's per-frame measurement (luma cells, window, forward transform,
// cross-power, inverse transform, peak) against three baselines on the same 1080p frames:
// the plain reference transcription, the same pipeline on FFTW (single precision, r2c/c2r)
// and OpenCV's phaseCorrelate on the 256 x 256 cell images. All numbers come from one run;
// ratios compare pipelines measured side by side.
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "frames/stab_measure.h"
#include "frames/stab_pipeline.h"
#include "bench/stab_reference.h"
#include "tests/frames/stab_test_frames.h"

namespace {

constexpr int32_t N = STAB_N;
constexpr int32_t frameWidth = 1920;
constexpr int32_t frameHeight = 1080;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Best of `rounds` timings of `frames` consecutive frames, in ms per frame. The best round is
// the least disturbed by the other work on a shared machine.
template <class Step>
double MsPerFrame(int32_t rounds, int32_t frames, Step step)
{
    double best = 1e30;
    for (int32_t r = 0; r < rounds; r++) {
        const double t0 = Now();
        for (int32_t f = 0; f < frames; f++) step(f);
        best = std::min(best, (Now() - t0) * 1000.0 / frames);
    }
    return best;
}

// The frames: a textured scene shaken by a few pixels, as the Macro camera sees it.
std::vector<TestImage> MakeFrames(int32_t count)
{
    const TestImage scene = MakeScene(frameWidth + 80, frameHeight + 80, 11);
    std::vector<TestImage> frames;
    for (int32_t k = 0; k < count; k++) {
        TestImage frame = MakeImage(frameWidth, frameHeight);
        const int32_t dx = static_cast<int32_t>(std::lround(3.0 * std::sin(k * 1.3)));
        const int32_t dy = static_cast<int32_t>(std::lround(3.0 * std::cos(k * 0.9)));
        CutFrame(scene, dx, dy, frame);
        frames.push_back(std::move(frame));
    }
    return frames;
}

// ---- The FFTW pipeline: a straightforward scalar luma pass, FFTW r2c and c2r transforms.

struct FftwPipeline {
    float* input;                  // 256 x 256 windowed cells
    fftwf_complex* spectrum[2];    // 256 x 129 each
    fftwf_complex* cross;
    float* surface;                // 256 x 256
    fftwf_plan forward[2];
    fftwf_plan inverse;
    float window[N];
    int32_t colStart[N + 1], rowStart[N + 1];
    float invColWidth[N];
};

void FftwInit(FftwPipeline& p)
{
    p.input = fftwf_alloc_real(N * N);
    p.surface = fftwf_alloc_real(N * N);
    p.cross = fftwf_alloc_complex(N * (N / 2 + 1));
    for (auto& s : p.spectrum) s = fftwf_alloc_complex(N * (N / 2 + 1));
    for (int32_t k = 0; k < 2; k++) p.forward[k] = fftwf_plan_dft_r2c_2d(N, N, p.input, p.spectrum[k], FFTW_MEASURE);
    p.inverse = fftwf_plan_dft_c2r_2d(N, N, p.cross, p.surface, FFTW_MEASURE);
    for (int32_t k = 0; k < N; k++) p.window[k] = static_cast<float>((1.0 - std::cos(2.0 * M_PI * k / N)) * 0.5);
    for (int32_t i = 0; i <= N; i++) p.colStart[i] = 960 * i / N, p.rowStart[i] = 540 * i / N;
    for (int32_t i = 0; i < N; i++)
        p.invColWidth[i] = 1.0f / static_cast<float>((p.colStart[i + 1] - p.colStart[i]) * 256);
}

void FftwDone(FftwPipeline& p)
{
    for (auto plan : p.forward) fftwf_destroy_plan(plan);
    fftwf_destroy_plan(p.inverse);
    fftwf_free(p.input);
    fftwf_free(p.surface);
    fftwf_free(p.cross);
    for (auto s : p.spectrum) fftwf_free(s);
}

void FftwCells(FftwPipeline& p, const TestImage& frame)
{
    const int32_t x0 = (frame.width - 960) / 2, y0 = (frame.height - 540) / 2;
    double sum = 0.0;
    for (int32_t j = 0; j < N; j++) {
        uint32_t accumulator[N] = {};
        for (int32_t y = y0 + p.rowStart[j]; y < y0 + p.rowStart[j + 1]; y++) {
            const uint8_t* row = frame.pixels.data() + static_cast<size_t>(y) * frame.stride;
            for (int32_t i = 0; i < N; i++)
                for (int32_t x = x0 + p.colStart[i]; x < x0 + p.colStart[i + 1]; x++)
                    accumulator[i] += 29u * row[x * 4] + 150u * row[x * 4 + 1] + 77u * row[x * 4 + 2];
        }
        const float invHeight = 1.0f / static_cast<float>(p.rowStart[j + 1] - p.rowStart[j]);
        for (int32_t i = 0; i < N; i++) {
            const float cell = static_cast<float>(accumulator[i]) * p.invColWidth[i] * invHeight;
            p.input[j * N + i] = cell;
            sum += cell;
        }
    }
    const float mean = static_cast<float>(sum / (N * N));
    for (int32_t j = 0; j < N; j++)
        for (int32_t i = 0; i < N; i++) p.input[j * N + i] = (p.input[j * N + i] - mean) * p.window[i] * p.window[j];
}

void FftwForward(FftwPipeline& p, int32_t slot)
{
    fftwf_execute(p.forward[slot]);
}

double FftwCorrelate(FftwPipeline& p, int32_t previous, int32_t current)
{
    const int32_t count = N * (N / 2 + 1);
    for (int32_t k = 0; k < count; k++) {
        const std::complex<float> a(p.spectrum[previous][k][0], p.spectrum[previous][k][1]);
        const std::complex<float> b(p.spectrum[current][k][0], p.spectrum[current][k][1]);
        const std::complex<float> q = std::conj(a) * b;
        const float magnitude = std::max(std::sqrt(q.real() * q.real() + q.imag() * q.imag()), 1e-12f);
        p.cross[k][0] = q.real() / magnitude;
        p.cross[k][1] = q.imag() / magnitude;
    }
    fftwf_execute(p.inverse);
    int32_t best = 0;
    for (int32_t k = 1; k < N * N; k++)
        if (p.surface[k] > p.surface[best]) best = k;
    const int32_t px = best % N, py = best / N;
    const float* s = p.surface;
    auto offset = [](float l, float c, float r) {
        const float d = l - 2.0f * c + r;
        return std::fabs(d) > 1e-12f ? std::clamp((l - r) * 0.5f / d, -0.5f, 0.5f) : 0.0f;
    };
    const float ox = offset(s[py * N + (px + N - 1) % N], s[best], s[py * N + (px + 1) % N]);
    return ((px <= 128 ? px : px - N) + ox) * 3.75;
}

// ---- OpenCV: phaseCorrelate of two 256 x 256 cell images with its own Hann window.

struct Row {
    const char* name;
    double ms;
    double shiftX;  // of the last frame pair, as a cross-check
};

}  // namespace

int main()
{
    const int32_t frameCount = 16;
    const std::vector<TestImage> frames = MakeFrames(frameCount);
    std::printf("Stabiliser measurement, %d x %d BGRA frames, region 960 x 540, grid 256 x 256\n", frameWidth,
                frameHeight);
    std::printf("processor with AVX2/FMA: %s\n\n", StabCpuHasAvx2() ? "yes" : "no");

    std::vector<Row> rows;
    const int32_t rounds = 7, perRound = 64;
    auto frameAt = [&](int32_t f) -> const TestImage& { return frames[f % frameCount]; };

    // The product, with each kernel set.
    double productMs = 0.0, productSse2Ms = 0.0;
    double productShift = 0.0;
    for (int32_t choice : {STAB_KERNELS_SSE2, STAB_KERNELS_AVX2}) {
        if (!StabMeasureSelectKernels(choice)) continue;
        double shift = 0.0;
        const TestImage& first = frameAt(0);
        StabMeasureForward(first.pixels.data(), first.width, first.height, first.stride, 0);
        int32_t previous = 0;
        const double ms = MsPerFrame(rounds, perRound, [&](int32_t f) {
            const TestImage& frame = frameAt(f + 1);
            StabMeasureForward(frame.pixels.data(), frame.width, frame.height, frame.stride, previous ^ 1);
            shift = StabMeasureCorrelate(previous, previous ^ 1).shiftX;
            previous ^= 1;
        });
        if (choice == STAB_KERNELS_SSE2) {
            productSse2Ms = ms;
            rows.push_back({"product, SSE2 kernels", ms, shift});
        } else {
            rows.push_back({"product, AVX2/FMA kernels", ms, shift});
        }
        productMs = ms;
        productShift = shift;
    }
    StabMeasureSelectKernels(STAB_KERNELS_AUTO);

    // Stage times of the product's chosen kernels.
    auto tables = std::make_unique<StabTables>();
    auto work = std::make_unique<StabWork>();
    StabTablesBuild(*tables);
    const StabKernelSet& set = StabCpuHasAvx2() ? stabKernelsAvx2 : stabKernelsSse2;
    const int32_t regionOffset = ((frameHeight - 540) / 2) * frameWidth * 4 + (frameWidth - 960) / 2 * 4;
    float mean = 0.0f;
    const double cellsMs = MsPerFrame(rounds, perRound, [&](int32_t f) {
        mean = static_cast<float>(set.cells(frameAt(f).pixels.data() + regionOffset, frameWidth * 4, *tables, *work) / 65536.0);
    });
    const double forwardMs = MsPerFrame(rounds, perRound, [&](int32_t f) { set.forward(mean, f & 1, *tables, *work); });
    int32_t index = 0;
    const double correlateMs = MsPerFrame(rounds, perRound, [&](int32_t f) {
        set.forward(mean, 1, *tables, *work);  // keeps the input realistic; subtracted below
        set.correlate(f & 1, (f & 1) ^ 1, *tables, *work, &index);
    }) - forwardMs;

    // The plain reference.
    double referenceShift = 0.0;
    ReferenceSpectrum previousSpectrum = ReferenceForward(frameAt(0).pixels.data(), frameWidth, frameHeight, frameWidth * 4);
    const double referenceMs = MsPerFrame(3, 16, [&](int32_t f) {
        const TestImage& frame = frameAt(f + 1);
        ReferenceSpectrum current = ReferenceForward(frame.pixels.data(), frame.width, frame.height, frame.stride);
        referenceShift = ReferenceCorrelate(previousSpectrum, current).shiftX;
        previousSpectrum = std::move(current);
    });
    rows.push_back({"plain reference", referenceMs, referenceShift});

    // FFTW.
    FftwPipeline fftw{};
    FftwInit(fftw);
    double fftwShift = 0.0;
    FftwCells(fftw, frameAt(0));
    FftwForward(fftw, 0);
    int32_t fftwPrevious = 0;
    const double fftwMs = MsPerFrame(rounds, perRound, [&](int32_t f) {
        FftwCells(fftw, frameAt(f + 1));
        FftwForward(fftw, fftwPrevious ^ 1);
        fftwShift = FftwCorrelate(fftw, fftwPrevious, fftwPrevious ^ 1);
        fftwPrevious ^= 1;
    });
    rows.push_back({"FFTW r2c/c2r pipeline", fftwMs, fftwShift});
    const double fftwCellsMs = MsPerFrame(rounds, perRound, [&](int32_t f) { FftwCells(fftw, frameAt(f)); });
    const double fftwForwardMs = MsPerFrame(rounds, perRound, [&](int32_t f) { FftwForward(fftw, f & 1); });
    const double fftwCorrelateMs = MsPerFrame(rounds, perRound, [&](int32_t f) { FftwCorrelate(fftw, f & 1, (f & 1) ^ 1); });

    // OpenCV phaseCorrelate on the cell images of the same frames (cells not included).
    std::vector<cv::Mat> cells;
    for (int32_t f = 0; f < frameCount; f++) {
        const std::vector<float> c = ReferenceCells(frameAt(f).pixels.data(), frameWidth, frameHeight, frameWidth * 4);
        cells.push_back(cv::Mat(N, N, CV_32F, const_cast<float*>(c.data())).clone());
    }
    cv::Mat hann;
    cv::createHanningWindow(hann, cv::Size(N, N), CV_32F);
    cv::setNumThreads(1);
    double opencvShift = 0.0;
    const double opencvMs = MsPerFrame(rounds, 32, [&](int32_t f) {
        const cv::Point2d p = cv::phaseCorrelate(cells[f % frameCount], cells[(f + 1) % frameCount], hann);
        opencvShift = p.x * 3.75;
    });
    rows.push_back({"OpenCV phaseCorrelate 256x256", opencvMs, opencvShift});
    FftwDone(fftw);

    std::printf("%-34s %10s %12s %14s %14s\n", "pipeline", "ms/frame", "vs product", "vs reference", "last shiftX px");
    for (const Row& r : rows)
        std::printf("%-34s %10.3f %12.2f %14.3f %14.3f\n", r.name, r.ms, r.ms / productMs, r.ms / referenceMs, r.shiftX);
    std::printf("\nproduct (chosen kernels) / FFTW pipeline: %.2f   reference / product: %.1fx   "
                "reference / product SSE2: %.1fx\n",
                productMs / fftwMs, referenceMs / productMs, referenceMs / productSse2Ms);
    std::printf("\nstages (ms/frame)        %10s %10s\n", "product", "FFTW");
    std::printf("luma cells               %10.3f %10.3f\n", cellsMs, fftwCellsMs);
    std::printf("forward transform        %10.3f %10.3f\n", forwardMs, fftwForwardMs);
    std::printf("cross-power, inverse, peak %8.3f %10.3f\n", correlateMs, fftwCorrelateMs);
    std::printf("(product: window is part of the forward stage; FFTW: part of the cells stage.\n"
                " OpenCV row excludes the luma pass; phaseCorrelate transforms both images per call.)\n");
    (void)productShift;
    return 0;
}
