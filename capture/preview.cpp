#include "capture/preview.h"

#include <cwchar>
#include <new>

#include "base/text_copy.h"
#include "capture/capture_reader.h"
#include "capture/device_list.h"
#include "diag/log.h"
#include "frames/frame_store.h"

struct CapturePreview {
    CaptureReader* reader;
};

namespace {

// The failures of the last opens, one per camera the wizard shows at a time, so that a camera it
// tries again logs its failure once and not at every try. UI thread only (the wizard opens its
// previews there).
struct Failure {
    wchar_t id[CAPTURE_ID_CAPACITY];
    HRESULT hr;
    bool started;  // the open worked; starting the stream failed
};
Failure failures[2];
int32_t nextFailure = 0;

Failure* FailureOf(const wchar_t* id)
{
    for (Failure& failure : failures)
        if (failure.id[0] != L'\0' && wcscmp(failure.id, id) == 0) return &failure;
    return nullptr;
}

void LogFailure(const wchar_t* id, HRESULT hr, bool started)
{
    Failure* failure = FailureOf(id);
    if (failure && failure->hr == hr && failure->started == started) return;
    if (!failure) {
        failure = &failures[nextFailure];
        nextFailure = (nextFailure + 1) % 2;
    }
    CopyTextCut(failure->id, CAPTURE_ID_CAPACITY, id);
    failure->hr = hr;
    failure->started = started;
    if (started)
        LogWrite(LOG_WARN, L"Vorschau: Kamera-Stream konnte nicht gestartet werden (0x%08lX)", LogHresult(hr));
    else
        LogWrite(LOG_WARN, L"Vorschau: Kamera konnte nicht ge\u00f6ffnet werden (0x%08lX)", LogHresult(hr));
}

}  // namespace

CapturePreview* PreviewOpen(const wchar_t* id)
{
    if (!id || id[0] == L'\0' || !CaptureStartMediaFoundation()) return nullptr;
    CaptureReader* reader = nullptr;
    HRESULT hr = CaptureReaderOpen(READER_ROLE_PREVIEW, id, id, &reader);
    if (hr != S_OK) {
        LogFailure(id, hr, false);
        return nullptr;
    }
    hr = CaptureReaderStart(reader);
    if (FAILED(hr)) {
        LogFailure(id, hr, true);
        CaptureReaderStop(&reader);
        return nullptr;
    }
    CapturePreview* preview = new (std::nothrow) CapturePreview{reader};
    if (!preview) CaptureReaderStop(&reader);
    else if (Failure* failure = FailureOf(id)) *failure = {};  // a later failure is news again
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
