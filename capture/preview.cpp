#include "capture/preview.h"

#include <new>

#include "capture/capture_reader.h"
#include "capture/device_list.h"
#include "diag/log.h"
#include "frames/frame_store.h"

struct CapturePreview {
    CaptureReader* reader;
};

CapturePreview* PreviewOpen(const wchar_t* id)
{
    if (!id || id[0] == L'\0' || !CaptureStartMediaFoundation()) return nullptr;
    CaptureReader* reader = nullptr;
    if (CaptureReaderOpen(READER_ROLE_PREVIEW, id, id, &reader) != S_OK) return nullptr;
    HRESULT hr = CaptureReaderStart(reader);
    if (FAILED(hr)) {
        LogWrite(LOG_WARN, L"Vorschau: Kamera-Stream konnte nicht gestartet werden (0x%08lX)", LogHresult(hr));
        CaptureReaderStop(&reader);
        return nullptr;
    }
    CapturePreview* preview = new (std::nothrow) CapturePreview{reader};
    if (!preview) CaptureReaderStop(&reader);
    return preview;
}

Frame* PreviewAcquireFrame(CapturePreview* preview)
{
    if (!preview || !preview->reader) return nullptr;
    CaptureReader& reader = *preview->reader;
    AcquireSRWLockShared(&reader.previewLock);
    Frame* frame = reader.previewFrame;
    FrameRetain(frame);
    ReleaseSRWLockShared(&reader.previewLock);
    return frame;
}

void PreviewClose(CapturePreview* preview)
{
    if (!preview) return;
    CaptureReaderStop(&preview->reader);
    delete preview;
}
