#pragma once
// The set-up of a recording's sink writer: the container, the encoders, the video stream and the
// microphone's AAC stream, up to BeginWriting. Where the system refuses a set-up, a plainer one
// is tried, so that a recording starts wherever one can.
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstdint>

#include "record/recording_rules.h"

struct OpenedWriter {
    IMFSinkWriter* writer;  // with a reference for the caller; writing has begun
    DWORD videoStream;
    DWORD audioStream;
    bool sound;              // the sound stream exists (`format` is its PCM input)
    AudioTrackFormat format;
    bool fragmented;         // a fragmented MP4 is being written
    bool hardware;           // hardware encoders are allowed
};

// UI thread. Opens the writer for `path` with the width x height video stream and, when
// `withSound` and the microphone's type (`microphone`, may be null) can be encoded, the sound
// stream. Null on success; else the user's error text (a constant, or `errorText` when it carries
// a code), the cause logged, nothing left open.
const wchar_t* WriterSetUp(const wchar_t* path, int32_t width, int32_t height, bool withSound, IMFMediaType* microphone,
                           OpenedWriter* opened, wchar_t* errorText, int32_t errorCapacity);
