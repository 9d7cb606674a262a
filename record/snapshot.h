#pragma once
// Photos: one press saves the Wide image, the Macro image and the composed view as JPEG files.

// UI thread, called only while the cameras are live. Takes the newest frames and builds the
// watermark here; composing and encoding run on a thread of their own.
void SnapshotRequest();
