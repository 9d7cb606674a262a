#include "standins/virtual_sink_writer.h"

// Placeholder until the writer lands: the factory refuses, the report is empty.
HRESULT VirtualSinkWriterCreate(const wchar_t*, IMFByteStream*, IMFAttributes*, IMFSinkWriter** writer)
{
    if (writer) *writer = nullptr;
    return E_NOTIMPL;
}
void VirtualSinkSetScript(const VirtualSinkScript&) {}
void VirtualSinkResetScript() {}
bool VirtualSinkLastReport(VirtualSinkReport*) { return false; }
bool VirtualSinkWaitAccepted(VirtualSinkStream, uint32_t, DWORD) { return false; }
int32_t VirtualSinkWritersLive() { return 0; }
