#include "standins/virtual_devices.h"

#include <dbt.h>

#include <atomic>
#include <cwchar>

#include "base/app_messages.h"
#include "base/text_copy.h"
#include "capture/media_seam.h"
#include "diag/log.h"
#include "standins/virtual_seam.h"

namespace {

struct Slot {
    bool used;
    uint32_t generation;  // unique per plug-in: a replugged device is a new device
    uint64_t pluggedAt;   // lists follow plug order, as the system's enumeration order is stable
    VirtualDevice device;
};

// tableLock guards slots, nextGeneration and nextPlug; held only for copies, never across calls
// into other modules or while posting.
SRWLOCK tableLock = SRWLOCK_INIT;
Slot slots[VIRTUAL_DEVICE_CAPACITY];
uint32_t nextGeneration = 1;
uint64_t nextPlug = 1;

std::atomic<bool> notifyEnabled{true};
std::atomic<double> timeScale{1.0};
std::atomic<int32_t> counters[5];

void PostDeviceChange()
{
    HWND target = AppWindow();
    if (notifyEnabled.load() && target) PostMessageW(target, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

VirtualDevice BlankDevice(VirtualKind kind, const wchar_t* id, const wchar_t* friendlyName, SceneKind scene)
{
    VirtualDevice device{};
    device.kind = kind;
    CopyTextCut(device.id, VIRTUAL_ID_CAPACITY, id);
    CopyTextCut(device.friendlyName, VIRTUAL_NAME_CAPACITY, friendlyName);
    device.hasFriendlyName = friendlyName != nullptr;
    device.scene = scene;
    device.buffer = VirtualBuffer::TwoD2;
    device.errorAfterSamples = -1;
    device.errorStatus = VIRTUAL_STREAM_FAILURE;
    return device;
}

}  // namespace

VirtualDevice VirtualCamera(const wchar_t* id, const wchar_t* friendlyName, SceneKind scene)
{
    VirtualDevice device = BlankDevice(VirtualKind::Camera, id, friendlyName, scene);
    constexpr VirtualMode HEADSET_MODES[] = {
        {1920, 1080, 30, 1, VirtualPixels::Nv12},
        {1920, 1080, 60, 1, VirtualPixels::Nv12},
        {1280, 720, 30, 1, VirtualPixels::Yuy2},
        {640, 480, 30, 1, VirtualPixels::Yuy2},
    };
    for (const VirtualMode& mode : HEADSET_MODES) device.modes[device.modeCount++] = mode;
    return device;
}

VirtualDevice VirtualMicrophone(const wchar_t* id, const wchar_t* friendlyName, SceneKind scene)
{
    VirtualDevice device = BlankDevice(VirtualKind::Microphone, id, friendlyName, scene);
    device.buffer = VirtualBuffer::Plain;
    device.sampleRate = 48000;
    device.channels = 2;
    return device;
}

int32_t VirtualDeviceAdd(const VirtualDevice& device)
{
    int32_t handle = -1;
    AcquireSRWLockExclusive(&tableLock);
    for (int32_t i = 0; i < static_cast<int32_t>(VIRTUAL_DEVICE_CAPACITY); ++i) {
        if (slots[i].used) continue;
        slots[i].used = true;
        slots[i].generation = nextGeneration++;
        slots[i].pluggedAt = nextPlug++;
        slots[i].device = device;
        slots[i].device.id[VIRTUAL_ID_CAPACITY - 1] = L'\0';
        slots[i].device.friendlyName[VIRTUAL_NAME_CAPACITY - 1] = L'\0';
        if (slots[i].device.modeCount > VIRTUAL_MODE_CAPACITY) slots[i].device.modeCount = VIRTUAL_MODE_CAPACITY;
        handle = i;
        break;
    }
    ReleaseSRWLockExclusive(&tableLock);
    if (handle < 0) return handle;
    if (device.kind == VirtualKind::Microphone)
        LogWrite(LOG_INFO, L"Virtuelles Mikrofon: %u Hz, %u %ls", device.sampleRate, device.channels,
                 device.channels == 1 ? L"Kanal" : L"Kan\u00e4le");
    PostDeviceChange();
    return handle;
}

bool VirtualDeviceRemove(int32_t handle)
{
    if (handle < 0 || handle >= static_cast<int32_t>(VIRTUAL_DEVICE_CAPACITY)) return false;
    AcquireSRWLockExclusive(&tableLock);
    bool removed = slots[handle].used;
    slots[handle].used = false;
    ReleaseSRWLockExclusive(&tableLock);
    if (removed) PostDeviceChange();
    return removed;
}

void VirtualDevicesRemoveAll()
{
    AcquireSRWLockExclusive(&tableLock);
    for (Slot& slot : slots) slot.used = false;
    ReleaseSRWLockExclusive(&tableLock);
}

void VirtualDevicesSetNotify(bool enabled)
{
    notifyEnabled.store(enabled);
}

void VirtualDevicesSetTimeScale(double scale)
{
    timeScale.store(scale > 0 ? scale : 1.0);
}

double VirtualDevicesTimeScale()
{
    return timeScale.load();
}

VirtualDeviceCounters VirtualDevicesCounters()
{
    return {counters[0].load(), counters[1].load(), counters[2].load(), counters[3].load(), counters[4].load()};
}

void VirtualCount(VirtualCounter counter, int32_t delta)
{
    counters[static_cast<size_t>(counter)].fetch_add(delta);
}

void VirtualDevicesInstall()
{
    VirtualDevicesRemoveAll();
    VirtualDevicesSetTimeScale(1.0);
    VirtualDevicesSetNotify(true);
    MediaSeamInstall(VirtualSeamTable());
}

void VirtualDevicesUninstall()
{
    VirtualDevicesRemoveAll();
    MediaSeamInstall(nullptr);
}

bool VirtualDeviceFind(VirtualKind kind, const wchar_t* id, VirtualDevice* device, int32_t* handle,
                       uint32_t* generation)
{
    if (!id) return false;
    bool found = false;
    AcquireSRWLockShared(&tableLock);
    for (int32_t i = 0; i < static_cast<int32_t>(VIRTUAL_DEVICE_CAPACITY) && !found; ++i) {
        const Slot& slot = slots[i];
        if (!slot.used || slot.device.kind != kind || wcscmp(slot.device.id, id) != 0) continue;
        if (device) *device = slot.device;
        if (handle) *handle = i;
        if (generation) *generation = slot.generation;
        found = true;
    }
    ReleaseSRWLockShared(&tableLock);
    return found;
}

bool VirtualDevicePresent(int32_t handle, uint32_t generation)
{
    if (handle < 0 || handle >= static_cast<int32_t>(VIRTUAL_DEVICE_CAPACITY)) return false;
    AcquireSRWLockShared(&tableLock);
    bool present = slots[handle].used && slots[handle].generation == generation;
    ReleaseSRWLockShared(&tableLock);
    return present;
}

uint32_t VirtualDeviceList(VirtualKind kind, VirtualDevice* devices, uint32_t capacity)
{
    uint32_t count = 0;
    uint64_t lastPlug = 0;
    AcquireSRWLockShared(&tableLock);
    // Selection by plug order: each pass takes the oldest device plugged after the last one taken.
    while (count < capacity) {
        const Slot* next = nullptr;
        for (const Slot& slot : slots) {
            if (slot.used && slot.device.kind == kind && slot.pluggedAt > lastPlug &&
                (!next || slot.pluggedAt < next->pluggedAt))
                next = &slot;
        }
        if (!next) break;
        devices[count++] = next->device;
        lastPlug = next->pluggedAt;
    }
    ReleaseSRWLockShared(&tableLock);
    return count;
}
