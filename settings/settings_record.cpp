#include "settings/settings_record.h"

#include <cstring>
#include <cwchar>

SettingsRecord Settings;

void SettingsResetDefaults()
{
    memset(&Settings, 0, sizeof(Settings));
    Settings.watermarkOn = true;
    wcscpy(Settings.praxisText, L"Praxis Dr. Vorlanz");
    Settings.stabGain = 0.5;
    Settings.stabSmoothing = 0.85;
    Settings.stabCropZoom = 1.15;
    Settings.stabLead = 0.0;
    Settings.appearanceMode = 0;
}

namespace {
double Clamp(double value, double low, double high)
{
    if (value < low) return low;
    if (value > high) return high;
    return value;
}
}  // namespace

void SettingsClamp()
{
    Settings.stabGain = Clamp(Settings.stabGain, 0.0, 8.0);
    Settings.stabSmoothing = Clamp(Settings.stabSmoothing, 0.7, 0.985);
    Settings.stabCropZoom = Clamp(Settings.stabCropZoom, 1.0, 1.35);
    Settings.stabLead = Clamp(Settings.stabLead, 0.0, 1.5);
    if (static_cast<uint32_t>(Settings.appearanceMode) > 2) Settings.appearanceMode = 0;
}
