#include "standins/virtual_sink_file.h"

#include <mfapi.h>
#include <mferror.h>
#include <wincodec.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "base/win_owners.h"
#include "standins/mp4_layout.h"

namespace {

constexpr uint32_t STRIP_ROWS = 16;          // rows handed to the JPEG encoder at once
constexpr int64_t LONGEST_SILENCE_GAP = 60;  // seconds of missing sound filled with silence at most

}  // namespace

struct SinkFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::atomic<uint64_t> position{0};  // also read by other threads for the report
    bool fragmented = false;
    int64_t fragmentTicks = 0;
    std::string comment;
    std::vector<SinkFileTrack> setup;
    std::vector<Mp4Track> tracks;            // plain: everything; fragmented: the open fragment
    std::vector<uint64_t> decodeTimes;       // fragmented: media time at the open fragment's start
    std::vector<std::vector<uint8_t>> data;  // fragmented: the open fragment's data per track
    std::vector<int64_t> trackStart;         // first sample time per track (−1: none yet)
    std::vector<uint64_t> audioFrames;       // sound frames written per track (whole file)
    uint32_t sequence = 0;
    uint64_t mehdValue = 0;                  // fragmented: file offset of the total duration
    int64_t endTime = 0;                     // latest sample end (100 ns)
    // Worker-thread imaging objects.
    ComOwner<IWICImagingFactory> wic;
    ComOwner<IStream> jpeg;
    std::vector<uint8_t> strip;
};

namespace {

HRESULT LastError()
{
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT Append(SinkFile* file, const void* bytes, size_t size)
{
    const auto* at = static_cast<const uint8_t*>(bytes);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file->handle, at, chunk, &written, nullptr)) return LastError();
        if (written == 0) return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
        file->position += written;
        at += written;
        size -= written;
    }
    return S_OK;
}

HRESULT WriteAt(SinkFile* file, uint64_t offset, const std::vector<uint8_t>& bytes)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    OVERLAPPED where{};
    where.Offset = to.LowPart;
    where.OffsetHigh = static_cast<DWORD>(to.HighPart);
    DWORD written = 0;
    if (!WriteFile(file->handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &where)) return LastError();
    // A positioned write moves the file pointer; the next append goes to the end again.
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(file->position.load());
    if (!SetFilePointerEx(file->handle, end, nullptr, FILE_BEGIN)) return LastError();
    return written == bytes.size() ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

// The picture whose top row is at `top`, each next row `pitch` bytes on, as a JPEG in
// file->jpeg; `size` receives its length.
HRESULT EncodeJpeg(SinkFile* file, const SinkFileTrack& track, const uint8_t* top, ptrdiff_t pitch, DWORD* size)
{
    HRESULT hr = S_OK;
    if (!file->wic) hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&file->wic));
    if (SUCCEEDED(hr) && !file->jpeg) hr = CreateStreamOnHGlobal(nullptr, TRUE, &file->jpeg);
    if (FAILED(hr)) return hr;
    ULARGE_INTEGER zero{};
    LARGE_INTEGER start{};
    hr = file->jpeg->SetSize(zero);
    if (SUCCEEDED(hr)) hr = file->jpeg->Seek(start, STREAM_SEEK_SET, nullptr);
    ComOwner<IWICBitmapEncoder> encoder;
    ComOwner<IWICBitmapFrameEncode> frame;
    ComOwner<IPropertyBag2> options;
    if (SUCCEEDED(hr)) hr = file->wic->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(file->jpeg.Get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(hr)) hr = frame->Initialize(options.Get());
    if (SUCCEEDED(hr)) hr = frame->SetSize(track.width, track.height);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (FAILED(hr)) return hr;
    // Rows go to the encoder top-down as 24-bit BGR, a strip at a time.
    UINT rowBytes = (track.width * 3 + 3) & ~3u;
    file->strip.resize(static_cast<size_t>(rowBytes) * STRIP_ROWS);
    for (uint32_t first = 0; first < track.height && SUCCEEDED(hr); first += STRIP_ROWS) {
        uint32_t rows = std::min(STRIP_ROWS, track.height - first);
        for (uint32_t r = 0; r < rows; ++r) {
            uint32_t image = first + r;
            const uint8_t* in = top + static_cast<ptrdiff_t>(image) * pitch;
            uint8_t* out = file->strip.data() + static_cast<size_t>(r) * rowBytes;
            for (uint32_t x = 0; x < track.width; ++x, in += 4, out += 3) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
            }
        }
        hr = frame->WritePixels(rows, rowBytes, rowBytes * rows, file->strip.data());
    }
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    ULARGE_INTEGER end{};
    if (SUCCEEDED(hr)) hr = file->jpeg->Seek(start, STREAM_SEEK_CUR, &end);
    if (SUCCEEDED(hr)) *size = static_cast<DWORD>(end.QuadPart);
    return hr;
}

// Puts `bytes` into the file (plain) or the open fragment's data (fragmented); returns the
// offset it got (file offset, or offset within the track's fragment data).
HRESULT Store(SinkFile* file, uint32_t track, const uint8_t* bytes, size_t size, uint64_t* offset)
{
    if (!file->fragmented) {
        *offset = file->position;
        return Append(file, bytes, size);
    }
    std::vector<uint8_t>& data = file->data[track];
    *offset = data.size();
    try {
        data.insert(data.end(), bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT FlushFragment(SinkFile* file)
{
    uint64_t bytes = 0;
    bool any = false;
    for (size_t i = 0; i < file->tracks.size(); ++i) {
        bytes += file->data[i].size();
        any = any || !file->tracks[i].video.empty() || file->tracks[i].frames > 0;
    }
    if (!any) return S_OK;
    std::vector<uint8_t> head = Mp4Fragment(file->tracks, file->decodeTimes, ++file->sequence, bytes);
    HRESULT hr = Append(file, head.data(), head.size());
    for (size_t i = 0; i < file->tracks.size() && SUCCEEDED(hr); ++i) hr = Append(file, file->data[i].data(), file->data[i].size());
    for (size_t i = 0; i < file->tracks.size(); ++i) {
        Mp4Track& t = file->tracks[i];
        file->decodeTimes[i] += t.audio ? t.frames : 0;
        t.video.clear();
        t.chunks.clear();
        t.frames = 0;
        file->data[i].clear();
    }
    return hr;
}

HRESULT WriteVideo(SinkFile* file, uint32_t index, const uint8_t* top, ptrdiff_t pitch, int64_t time, int64_t duration)
{
    Mp4Track& track = file->tracks[index];
    if (file->fragmented) {
        // A fragment closes before the sample that would make it longer than its bound.
        if (!track.video.empty() && time - track.video.front().time >= file->fragmentTicks) {
            HRESULT hr = FlushFragment(file);
            if (FAILED(hr)) return hr;
        }
        // Fragments carry no edit list: media time is the sample time itself.
        if (track.video.empty()) file->decodeTimes[index] = static_cast<uint64_t>(std::max<int64_t>(time, 0));
    }
    DWORD size = 0;
    HRESULT hr = EncodeJpeg(file, file->setup[index], top, pitch, &size);
    HGLOBAL global = nullptr;
    if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(file->jpeg.Get(), &global);
    const uint8_t* jpeg = SUCCEEDED(hr) ? static_cast<const uint8_t*>(GlobalLock(global)) : nullptr;
    if (SUCCEEDED(hr) && !jpeg) hr = E_OUTOFMEMORY;
    uint64_t offset = 0;
    if (SUCCEEDED(hr)) hr = Store(file, index, jpeg, size, &offset);
    if (jpeg) GlobalUnlock(global);
    if (FAILED(hr)) return hr;
    track.video.push_back({offset, size, time});
    track.lastDuration = duration;
    return S_OK;
}

HRESULT WriteAudio(SinkFile* file, uint32_t index, const uint8_t* bytes, DWORD length, int64_t time)
{
    Mp4Track& track = file->tracks[index];
    uint32_t frameBytes = track.channels * 2;
    uint64_t frames = length / frameBytes;
    // Missing sound (a gap in the sample times) becomes silence, so that what follows stays at
    // its time.
    uint64_t written = file->audioFrames[index];
    double position = static_cast<double>(time - file->trackStart[index]) * track.sampleRate / MP4_TICKS_PER_SECOND;
    uint64_t target = position > 0 ? static_cast<uint64_t>(std::llround(position)) : 0;
    uint64_t gap = target > written + 1 ? target - written : 0;
    if (gap > static_cast<uint64_t>(LONGEST_SILENCE_GAP) * track.sampleRate) gap = 0;
    if (file->fragmented && track.frames > 0 &&
        static_cast<int64_t>((track.frames + gap + frames) * MP4_TICKS_PER_SECOND / track.sampleRate) > file->fragmentTicks) {
        HRESULT hr = FlushFragment(file);
        if (FAILED(hr)) return hr;
    }
    uint64_t offset = 0;
    HRESULT hr = S_OK;
    if (gap > 0) {
        std::vector<uint8_t> silence;
        try {
            silence.assign(gap * frameBytes, 0);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        hr = Store(file, index, silence.data(), silence.size(), &offset);
    }
    uint64_t dataOffset = 0;
    if (SUCCEEDED(hr)) hr = Store(file, index, bytes, frames * frameBytes, &dataOffset);
    if (FAILED(hr)) return hr;
    if (gap == 0) offset = dataOffset;
    uint64_t total = gap + frames;
    if (total > 0) track.chunks.push_back({offset, static_cast<uint32_t>(total)});
    track.frames += total;
    file->audioFrames[index] = written + total;
    return S_OK;
}

}  // namespace

HRESULT SinkFileCreate(const wchar_t* path, SinkFile** out)
{
    *out = nullptr;
    auto* file = new (std::nothrow) SinkFile;
    if (!file) return E_OUTOFMEMORY;
    // Others may read the growing file (free-space checks, a player); nobody may write to it.
    file->handle = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file->handle == INVALID_HANDLE_VALUE) {
        HRESULT hr = LastError();
        delete file;
        return hr;
    }
    *out = file;
    return S_OK;
}

HRESULT SinkFileBegin(SinkFile* file, std::span<const SinkFileTrack> tracks, bool fragmented, int64_t fragmentTicks,
                      std::string_view comment)
{
    try {
        file->comment.assign(comment);
        file->setup.assign(tracks.begin(), tracks.end());
        file->tracks.assign(tracks.size(), Mp4Track{});
        file->decodeTimes.assign(tracks.size(), 0);
        file->data.assign(tracks.size(), {});
        file->trackStart.assign(tracks.size(), -1);
        file->audioFrames.assign(tracks.size(), 0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (size_t i = 0; i < tracks.size(); ++i) {
        Mp4Track& t = file->tracks[i];
        t.audio = tracks[i].audio;
        t.width = tracks[i].width;
        t.height = tracks[i].height;
        t.sampleRate = tracks[i].sampleRate;
        t.channels = tracks[i].channels;
    }
    file->fragmented = fragmented;
    file->fragmentTicks = std::max<int64_t>(fragmentTicks, 1);
    std::vector<uint8_t> head = Mp4FileHeader(fragmented);
    if (fragmented) {
        std::vector<uint8_t> movie = Mp4Movie(file->tracks, true, file->comment);
        static constexpr char MEHD[] = {'m', 'e', 'h', 'd'};
        auto at = std::search(movie.begin(), movie.end(), MEHD, MEHD + 4);
        if (at != movie.end()) file->mehdValue = head.size() + static_cast<uint64_t>(at - movie.begin()) + 8;
        head.insert(head.end(), movie.begin(), movie.end());
    }
    return Append(file, head.data(), head.size());
}

HRESULT SinkFileWrite(SinkFile* file, uint32_t index, IMFSample* sample, int64_t time, int64_t duration)
{
    if (index >= file->tracks.size()) return MF_E_INVALIDSTREAMNUMBER;
    const SinkFileTrack& setup = file->setup[index];
    ComOwner<IMFMediaBuffer> buffer;
    HRESULT hr = sample->ConvertToContiguousBuffer(&buffer);
    // A 2-D buffer is read by its own pitch (a plain Lock of a bottom-up one is not safe
    // everywhere); a plain buffer by the input type's stride.
    ComOwner<IMF2DBuffer> planes;
    if (SUCCEEDED(hr) && !setup.audio) buffer->QueryInterface(IID_PPV_ARGS(&planes));  // none: a plain buffer
    BYTE* bytes = nullptr;
    DWORD length = 0;
    LONG pitch = 0;
    if (SUCCEEDED(hr)) hr = planes ? planes->Lock2D(&bytes, &pitch) : buffer->Lock(&bytes, nullptr, &length);
    if (FAILED(hr)) return hr;
    if (file->trackStart[index] < 0) {
        file->trackStart[index] = time;
        file->tracks[index].start = time;
        if (setup.audio && time > 0)
            file->decodeTimes[index] = static_cast<uint64_t>(std::llround(static_cast<double>(time) * setup.sampleRate / MP4_TICKS_PER_SECOND));
    }
    if (setup.audio) {
        hr = WriteAudio(file, index, bytes, length, time);
    } else if (planes) {
        hr = WriteVideo(file, index, bytes, pitch, time, duration);
    } else if (length < static_cast<uint64_t>(setup.stride) * (setup.height - 1) + setup.width * 4ull) {
        hr = MF_E_BUFFERTOOSMALL;
    } else {
        const uint8_t* top = setup.bottomUp ? bytes + static_cast<size_t>(setup.height - 1) * setup.stride : bytes;
        ptrdiff_t step = setup.bottomUp ? -static_cast<ptrdiff_t>(setup.stride) : static_cast<ptrdiff_t>(setup.stride);
        hr = WriteVideo(file, index, top, step, time, duration);
    }
    if (planes) planes->Unlock2D();
    else buffer->Unlock();
    if (SUCCEEDED(hr)) file->endTime = std::max(file->endTime, time + std::max<int64_t>(duration, 0));
    return hr;
}

HRESULT SinkFileFinish(SinkFile* file)
{
    HRESULT hr = S_OK;
    if (file->fragmented) {
        hr = FlushFragment(file);
        if (SUCCEEDED(hr) && file->mehdValue) {
            std::vector<uint8_t> duration(8);
            uint64_t ms = static_cast<uint64_t>(std::max<int64_t>(file->endTime, 0)) / 10'000;
            for (int k = 0; k < 8; ++k) duration[k] = static_cast<uint8_t>(ms >> (56 - 8 * k));
            hr = WriteAt(file, file->mehdValue, duration);
        }
        return hr;
    }
    std::vector<uint8_t> movie = Mp4Movie(file->tracks, false, file->comment);
    uint64_t mdat = Mp4FileHeader(false).size() - MP4_MDAT_HEADER_BYTES;
    hr = WriteAt(file, mdat + 8, Mp4MdatSize(mdat, file->position));
    if (SUCCEEDED(hr)) hr = Append(file, movie.data(), movie.size());
    return hr;
}

void SinkFileWorkerEnd(SinkFile* file)
{
    file->jpeg.Reset();
    file->wic.Reset();
}

void SinkFileClose(SinkFile* file)
{
    if (!file) return;
    if (file->handle != INVALID_HANDLE_VALUE) CloseHandle(file->handle);
    SinkFileWorkerEnd(file);
    delete file;
}

uint64_t SinkFileBytes(const SinkFile* file)
{
    return file->position.load();
}
