#pragma once
// What a reader does with one delivered sample: camera samples become Frames with alpha forced
// opaque (Macro through the stabiliser, Wide to the recorder while one runs, the preview kept in
// the reader); microphone samples feed the level meter and go to the recorder.
#include <windows.h>
#include <mfobjects.h>

struct CaptureReader;

// Roles 0, 1 and 3. An undersized or unreadable buffer drops the frame (one warning per reader).
void IntakeVideoSample(CaptureReader& reader, IMFSample* sample, LONGLONG timestamp);
// Role 2.
void IntakeAudioSample(CaptureReader& reader, IMFSample* sample);
