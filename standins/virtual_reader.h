#pragma once
// Source reader of a virtual device in asynchronous mode. Each reader has a worker thread of its
// own that answers every ReadSample request with one OnReadSample, paced at the stream's rate
// (sped up by the devices' time scale), answers Flush with OnFlush, and plays the device's
// scripted faults. After the last Release returns, no callback runs any more, unless the device
// is scripted to answer Flush beside a running sample callback (flushBesideSample).
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

// `source` must be a virtual source; `attributes` must carry MF_SOURCE_READER_ASYNC_CALLBACK
// (synchronous mode is not offered: E_NOTIMPL). The reader shuts the source down when it goes,
// unless MF_SOURCE_READER_DISCONNECT_MEDIASOURCE_ON_SHUTDOWN is set.
HRESULT VirtualReaderCreate(IMFMediaSource* source, IMFAttributes* attributes, IMFSourceReader** out);
