#pragma once
// The file side of the substitute sink writer: turns samples into JPEG pictures and PCM sound and
// appends them to an MP4 file (plain or fragmented) as they come. Used by one thread at a time;
// the writer's worker calls SinkFileWrite with COM initialised and SinkFileWorkerEnd before it
// leaves its apartment.
#include <windows.h>
#include <mfobjects.h>

#include <cstdint>
#include <span>
#include <string_view>

struct SinkFileTrack {
    bool audio;
    uint32_t width, height;    // video
    uint32_t stride;           // video input: bytes from one row to the next
    bool bottomUp;             // video input: the last image row comes first
    uint32_t sampleRate;       // audio: 16-bit PCM
    uint32_t channels;
};

struct SinkFile;

// Creates (or replaces) the file; HRESULT_FROM_WIN32 of the system's error on failure.
HRESULT SinkFileCreate(const wchar_t* path, SinkFile** file);
// Writes the file's head. `fragmentTicks` (100 ns) is the longest fragment of a fragmented file.
HRESULT SinkFileBegin(SinkFile* file, std::span<const SinkFileTrack> tracks, bool fragmented, int64_t fragmentTicks,
                      std::string_view comment);
// Appends one sample of `track` with its given time and duration (−1: none).
HRESULT SinkFileWrite(SinkFile* file, uint32_t track, IMFSample* sample, int64_t time, int64_t duration);
// Completes the file (movie box, or the last fragment and the total duration).
HRESULT SinkFileFinish(SinkFile* file);
// Releases the imaging objects made on the calling (worker) thread.
void SinkFileWorkerEnd(SinkFile* file);
// Closes the file as it is and frees the record.
void SinkFileClose(SinkFile* file);
uint64_t SinkFileBytes(const SinkFile* file);
