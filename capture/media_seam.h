#pragma once
// The one place where Media Foundation's device and writer factories are called. Behind it is
// either Media Foundation itself or, in development builds only, a set of replacements (virtual
// devices, a substitute sink writer) for machines that lack cameras or encoders; callers cannot
// tell the two apart. Release builds (MIRU_RELEASE) call Media Foundation and nothing else.
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

HRESULT SeamEnumDeviceSources(IMFAttributes* attributes, IMFActivate*** activates, UINT32* count);
HRESULT SeamCreateDeviceSource(IMFAttributes* attributes, IMFMediaSource** source);
HRESULT SeamCreateSourceReaderFromMediaSource(IMFMediaSource* source, IMFAttributes* attributes,
                                              IMFSourceReader** reader);
// The sink writer for a recording file: Media Foundation's, or the substitute that goes with the
// virtual devices (it writes a file any MP4 reader opens, with JPEG pictures and PCM sound).
HRESULT SeamCreateSinkWriterFromURL(const wchar_t* url, IMFByteStream* byteStream, IMFAttributes* attributes,
                                    IMFSinkWriter** writer);

// Replacement table (development builds); a null entry falls through to Media Foundation.
struct MediaSeamOverride {
    HRESULT (*enumDeviceSources)(IMFAttributes* attributes, IMFActivate*** activates, UINT32* count);
    HRESULT (*createDeviceSource)(IMFAttributes* attributes, IMFMediaSource** source);
    HRESULT (*createSourceReaderFromMediaSource)(IMFMediaSource* source, IMFAttributes* attributes,
                                                 IMFSourceReader** reader);
    HRESULT (*createSinkWriterFromURL)(const wchar_t* url, IMFByteStream* byteStream, IMFAttributes* attributes,
                                       IMFSinkWriter** writer);
};

#ifdef MIRU_TEST_HOOKS
// Installs a replacement table (null restores Media Foundation). The table must outlive its use.
// Without a call, the first use of the seam installs the virtual devices when the environment
// variable MIRU_VIRTUAL_DEVICES is set (see the README for its values).
void MediaSeamInstall(const MediaSeamOverride* table);
#endif
