// Speed of the frame intake's copy: one 1920 × 1080 RGB32 camera image into a Frame with the
// alpha byte forced opaque (the product's own row copy), against a plain memcpy of the same
// bytes into the same Frame. Both run interleaved in one process; the ratio is what counts.
// A second pair adds the per-sample Frame allocation, as the intake does it, against an
// allocation plus memcpy.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/frame_copy.h"
#include "frames/frame_store.h"

namespace {

constexpr int32_t WIDTH = 1920;
constexpr int32_t HEIGHT = 1080;
constexpr size_t BYTES = static_cast<size_t>(WIDTH) * HEIGHT * 4;
constexpr int ROUNDS = 15;
constexpr int COPIES_PER_ROUND = 20;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Milliseconds per copy of one round.
template <class Step>
double RoundMs(Step step)
{
    const double start = Now();
    for (int i = 0; i < COPIES_PER_ROUND; ++i) step();
    return (Now() - start) * 1000.0 / COPIES_PER_ROUND;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Keeps the compiler from dropping a copy whose result is never read.
volatile uint8_t sink;

}  // namespace

int main()
{
    // A camera image as a source reader delivers it: every byte varies, alpha included.
    std::vector<uint8_t> sample(BYTES);
    uint32_t state = 12345;
    for (uint8_t& byte : sample) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    Frame* frame = FrameCreate(WIDTH, HEIGHT);
    if (!frame) {
        std::fprintf(stderr, "no memory for the frame\n");
        return 1;
    }
    auto intake = [&] {
        IntakeCopyRows(frame->pixels, frame->stride, sample.data(), WIDTH * 4, WIDTH, HEIGHT);
        sink = frame->pixels[BYTES - 1];
    };
    auto plain = [&] {
        std::memcpy(frame->pixels, sample.data(), BYTES);
        sink = frame->pixels[BYTES - 1];
    };
    auto intakeNewFrame = [&] {
        Frame* fresh = FrameCreate(WIDTH, HEIGHT);
        IntakeCopyRows(fresh->pixels, fresh->stride, sample.data(), WIDTH * 4, WIDTH, HEIGHT);
        sink = fresh->pixels[BYTES - 1];
        FrameRelease(fresh);
    };
    auto plainNewBlock = [&] {
        auto* fresh = static_cast<uint8_t*>(std::malloc(BYTES + 64));
        std::memcpy(fresh + 64, sample.data(), BYTES);
        sink = fresh[BYTES + 63];
        std::free(fresh);
    };

    intake();  // warm the pages and caches
    plain();
    std::vector<double> intakeMs, plainMs, intakeNewMs, plainNewMs;
    for (int round = 0; round < ROUNDS; ++round) {
        intakeMs.push_back(RoundMs(intake));
        plainMs.push_back(RoundMs(plain));
        intakeNewMs.push_back(RoundMs(intakeNewFrame));
        plainNewMs.push_back(RoundMs(plainNewBlock));
    }
    FrameRelease(frame);

    const double copy = Median(intakeMs), reference = Median(plainMs);
    const double copyNew = Median(intakeNewMs), referenceNew = Median(plainNewMs);
    std::printf("Frame intake, %dx%d RGB32 (%zu bytes), median of %d rounds of %d copies\n", WIDTH, HEIGHT, BYTES,
                ROUNDS, COPIES_PER_ROUND);
    std::printf("  intake copy (alpha forced) into a Frame: %7.3f ms\n", copy);
    std::printf("  memcpy into the same Frame:              %7.3f ms\n", reference);
    std::printf("  ratio intake / memcpy:                   %7.3f  (goal: at most 1.25)\n", copy / reference);
    std::printf("  with a new Frame per sample:             %7.3f ms\n", copyNew);
    std::printf("  malloc + memcpy per sample:              %7.3f ms\n", referenceNew);
    std::printf("  ratio with allocation:                   %7.3f\n", copyNew / referenceNew);
    return 0;
}
