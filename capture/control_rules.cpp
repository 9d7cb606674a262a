#include "capture/control_rules.h"

#include <algorithm>
#include <cmath>

uint64_t ControlScaledMs(uint64_t ms, double timeScale)
{
    if (!(timeScale > 1.0) || ms == 0) return ms;
    const double scaled = std::ceil(static_cast<double>(ms) / timeScale);
    return std::max<uint64_t>(static_cast<uint64_t>(scaled), 1);
}

uint64_t ControlWaitMs(uint64_t now, bool searching, uint64_t searchDue, bool watchdogArmed, uint64_t watchdogDue)
{
    uint64_t wait = CONTROL_WAIT_FOREVER;
    if (searching) wait = searchDue > now ? searchDue - now : 0;
    if (watchdogArmed) wait = std::min(wait, watchdogDue > now ? watchdogDue - now : 0);
    return wait;
}

NoImageVerdict ControlNoImageVerdict(bool wideHasImage, bool macroHasImage, int32_t restartCount)
{
    if (wideHasImage && macroHasImage) return NoImageVerdict::Pass;
    return restartCount >= CONTROL_AUTO_RESTARTS ? NoImageVerdict::GiveUp : NoImageVerdict::Restart;
}

int32_t ControlLostCamera(bool wideBound, bool wideFound, bool macroBound, bool macroFound)
{
    if (wideBound && !wideFound) return 0;
    if (macroBound && !macroFound) return 1;
    return -1;
}
