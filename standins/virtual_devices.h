#pragma once
// Virtual cameras and microphones for machines without capture hardware (and for tests that
// script hardware faults). Devices are plain records in a process-wide table; plugging and
// unplugging them is a function call. The media seam hands out their activation objects, media
// sources and source readers in place of Media Foundation's.
#include <windows.h>

#include <cstdint>

#include "standins/scene_render.h"

enum class VirtualKind : uint8_t { Camera, Microphone };

// How a camera hands its pixels over: a Media Foundation 2-D buffer (IMF2DBuffer2), a buffer
// that offers IMF2DBuffer but not IMF2DBuffer2, or a plain memory buffer.
enum class VirtualBuffer : uint8_t { TwoD2, TwoDOnly, Plain };

enum class VirtualPixels : uint8_t { Rgb32, Yuy2, Nv12 };

// One native format of a camera. A width or height of 0 leaves the frame size out of the media
// type; a rate of 0/0 leaves the frame rate out (other values, also a denominator of 0, are
// stored as given).
struct VirtualMode {
    uint32_t width;
    uint32_t height;
    uint32_t rateNumerator;
    uint32_t rateDenominator;
    VirtualPixels pixels;
};

constexpr uint32_t VIRTUAL_MODE_CAPACITY = 8;
constexpr uint32_t VIRTUAL_ID_CAPACITY = 512;
constexpr uint32_t VIRTUAL_NAME_CAPACITY = 128;
constexpr uint32_t VIRTUAL_DEVICE_CAPACITY = 40;

// Stream status of a reader whose device was unplugged, as the system reports it.
constexpr HRESULT VIRTUAL_CAMERA_GONE = static_cast<HRESULT>(0xC00D3EA2);      // video device invalidated
constexpr HRESULT VIRTUAL_MICROPHONE_GONE = static_cast<HRESULT>(0x88890004);  // audio device invalidated
// Result of opening a device that is not plugged in.
constexpr HRESULT VIRTUAL_DEVICE_MISSING = static_cast<HRESULT>(0x80070002);
// Default status of a scripted stream error (the hardware stopped streaming).
constexpr HRESULT VIRTUAL_STREAM_FAILURE = static_cast<HRESULT>(0xC00D3704);

// One device as it is plugged in: what the lists show, the formats it offers and the faults it
// is scripted to have.
struct VirtualDevice {
    VirtualKind kind;
    wchar_t id[VIRTUAL_ID_CAPACITY];  // symbolic link (camera) or endpoint id (microphone)
    wchar_t friendlyName[VIRTUAL_NAME_CAPACITY];
    uint8_t hasFriendlyName;  // 0: the activation object carries no friendly name
    SceneKind scene;
    VirtualMode modes[VIRTUAL_MODE_CAPACITY];  // cameras
    uint32_t modeCount;
    uint32_t sampleRate;  // microphones: native PCM 16-bit format
    uint32_t channels;
    // Scripted behaviour
    VirtualBuffer buffer;
    uint8_t bottomUp;             // negative default stride / pitch
    // The RGB32 output type states no MF_MT_DEFAULT_STRIDE (as some pipelines leave it out);
    // readers must then take the format's default ("Image Stride": RGB in system memory is
    // usually bottom-up), so such a device is meant to be scripted bottom-up as well.
    uint8_t omitDefaultStride;
    uint8_t undersized;           // buffers hold only the upper half of the image
    uint8_t neverDelivers;        // accepts requests but never answers them
    uint8_t flushNeverCompletes;  // Flush succeeds but OnFlush never comes
    // Flush is answered at once on the caller's thread, even while a sample callback runs on the
    // reader's own thread, and the last Release does not wait for that callback (as Media
    // Foundation's reader may do): the callback then runs on alongside the stop.
    uint8_t flushBesideSample;
    uint8_t rejectAudioBits;      // refuses output types that name MF_MT_AUDIO_BITS_PER_SAMPLE
    int32_t errorAfterSamples;    // -1: never; otherwise the request after N samples fails
    HRESULT errorStatus;          // status of that failure (VIRTUAL_STREAM_FAILURE)
};

// A camera with the headset's formats (1920 × 1080 at 30 and 60, 1280 × 720 at 30, 640 × 480
// at 30) delivering through IMF2DBuffer2, top-down. `friendlyName` null: none.
VirtualDevice VirtualCamera(const wchar_t* id, const wchar_t* friendlyName, SceneKind scene);
// A microphone with 48 kHz stereo 16-bit PCM.
VirtualDevice VirtualMicrophone(const wchar_t* id, const wchar_t* friendlyName, SceneKind scene);

// Plugs a device in; returns its handle (≥ 0) or -1 when the table is full. Posts the
// device-change notice (below). A microphone logs its native format ("Virtuelles Mikrofon:
// 16000 Hz, 1 Kanal").
int32_t VirtualDeviceAdd(const VirtualDevice& device);
// Unplugs a device: it leaves the lists, opening it fails and its open readers fail with
// VIRTUAL_CAMERA_GONE / VIRTUAL_MICROPHONE_GONE at their next sample. Posts the notice.
bool VirtualDeviceRemove(int32_t handle);
// Unplugs every device, without notice.
void VirtualDevicesRemoveAll();

// Whether plugging and unplugging post WM_DEVICECHANGE (DBT_DEVNODES_CHANGED) to AppWindow(),
// as the system does for a top-level window. On by default; nothing is posted while
// AppWindow() is null.
void VirtualDevicesSetNotify(bool enabled);

// Readers deliver `scale` times faster than real time (timestamps stay in stream time).
// 1 is real time; values ≤ 0 are taken as 1.
void VirtualDevicesSetTimeScale(double scale);
double VirtualDevicesTimeScale();

// Object counts for leak checks.
struct VirtualDeviceCounters {
    int32_t activatesLive;
    int32_t activatesFreed;  // activation objects whose last reference was released
    int32_t sourcesLive;
    int32_t readersLive;
    int32_t readerThreadsLive;
};
VirtualDeviceCounters VirtualDevicesCounters();

// Puts the virtual devices behind the media seam (empty table, real-time pacing, notices on);
// Uninstall unplugs everything and gives the seam back to Media Foundation.
void VirtualDevicesInstall();
void VirtualDevicesUninstall();

// ---- Used by the stand-in objects themselves ----

// Copies the record of the plugged-in device with `id` of `kind`; fills its handle and plug
// generation. False when no such device is plugged in.
bool VirtualDeviceFind(VirtualKind kind, const wchar_t* id, VirtualDevice* device, int32_t* handle,
                       uint32_t* generation);
// Whether the device plugged in as (handle, generation) is still there.
bool VirtualDevicePresent(int32_t handle, uint32_t generation);
// Snapshot of the present devices of one kind in plug order; returns the count.
uint32_t VirtualDeviceList(VirtualKind kind, VirtualDevice* devices, uint32_t capacity);

enum class VirtualCounter : uint8_t { Activates, ActivatesFreed, Sources, Readers, ReaderThreads };
void VirtualCount(VirtualCounter counter, int32_t delta);
