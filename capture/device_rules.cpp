#include "capture/device_rules.h"

#include <algorithm>
#include <cwchar>

#include "base/text_copy.h"

namespace {

bool SameText(const wchar_t* a, const wchar_t* b)
{
    return std::wcscmp(a, b) == 0;
}

// "<name> #k", cut at the display name's capacity like every text of a device entry.
void NumberedName(wchar_t* dest, const wchar_t* name, int32_t k)
{
    wchar_t suffix[16];
    int32_t length = 0;
    wchar_t digits[12];
    int32_t digitCount = 0;
    uint32_t value = static_cast<uint32_t>(k);
    do {
        digits[digitCount++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    suffix[length++] = L' ';
    suffix[length++] = L'#';
    while (digitCount > 0) suffix[length++] = digits[--digitCount];
    suffix[length] = L'\0';

    CopyTextCut(dest, CAPTURE_DISPLAY_NAME_CAPACITY, name);
    size_t used = std::wcslen(dest);
    for (int32_t i = 0; i < length && used < CAPTURE_DISPLAY_NAME_CAPACITY - 1; ++i) dest[used++] = suffix[i];
    dest[used] = L'\0';
}

// The first camera whose id is not `taken` into `dest` (left alone when there is none).
void FillWithFirstOther(std::span<const CaptureDevice> cameras, const wchar_t* taken, wchar_t* dest)
{
    for (const CaptureDevice& camera : cameras) {
        if (SameText(camera.id, taken)) continue;
        CopyTextCut(dest, CAPTURE_ID_CAPACITY, camera.id);
        return;
    }
}

}  // namespace

void DeviceListOrder(std::span<CaptureDevice> devices)
{
    if (devices.size() >= 2)
        std::stable_sort(devices.begin(), devices.end(),
                         [](const CaptureDevice& a, const CaptureDevice& b) { return std::wcscmp(a.id, b.id) < 0; });
    for (size_t i = 0; i < devices.size(); ++i) {
        CaptureDevice& entry = devices[i];
        int32_t sharing = 0;
        int32_t before = 0;
        for (size_t j = 0; j < devices.size(); ++j) {
            if (!SameText(devices[j].friendlyName, entry.friendlyName)) continue;
            ++sharing;
            if (j < i) ++before;
        }
        if (sharing == 1) CopyTextCut(entry.displayName, CAPTURE_DISPLAY_NAME_CAPACITY, entry.friendlyName);
        else NumberedName(entry.displayName, entry.friendlyName, before + 1);
    }
}

void DeviceFillEmptyRoles(std::span<const CaptureDevice> cameras, wchar_t* wideId, wchar_t* macroId)
{
    if (wideId[0] == L'\0') FillWithFirstOther(cameras, macroId, wideId);
    if (macroId[0] == L'\0') FillWithFirstOther(cameras, wideId, macroId);
}

int32_t DeviceFind(std::span<const CaptureDevice> devices, const wchar_t* id)
{
    if (!id || id[0] == L'\0') return -1;
    for (size_t i = 0; i < devices.size(); ++i)
        if (SameText(devices[i].id, id)) return static_cast<int32_t>(i);
    return -1;
}
