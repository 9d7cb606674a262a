#include "diag/perf_clock.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#endif

namespace {
double CounterSeconds()
{
#ifdef _WIN32
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}
}  // namespace

#ifdef MIRU_TEST_HOOKS
namespace {
std::atomic<double (*)()> testClock{nullptr};
}  // namespace

double PerfClockSeconds()
{
    double (*clock)() = testClock.load(std::memory_order_acquire);
    return clock ? clock() : CounterSeconds();
}

void PerfClockSetForTest(double (*now)())
{
    testClock.store(now, std::memory_order_release);
}
#else
double PerfClockSeconds()
{
    return CounterSeconds();
}
#endif
