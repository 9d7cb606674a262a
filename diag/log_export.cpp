#include "diag/log_export.h"

#include <cstdlib>
#include <cwchar>

#include "diag/crash_dump_names.h"

namespace {

// Room beyond the system text and the creation line: title and line ends (27), separator (33),
// terminator, and some slack.
constexpr size_t fixedRoom = 75;
// Room per entry beyond its text: "hh:mm:ss.mmm" (12), two gaps (4), the label (6), the line feed.
constexpr size_t entryRoom = 23;
constexpr size_t separatorLength = 32;
constexpr size_t creationCapacity = 64;
// Tells the support where to look for crash dumps.
constexpr wchar_t dumpLabel[] = L"Absturz-Speicherabbilder: ";

size_t StoredTextLength(const LogEntry& entry)
{
    size_t length = 0;
    while (length < LOG_TEXT_CAPACITY - 1 && entry.text[length] != 0) length++;
    return length;
}

}  // namespace

wchar_t* LogBuildExportText(std::span<const LogEntry> entries, const wchar_t* systemText,
                            const wchar_t* dumpFolder, const LogTime& now)
{
    wchar_t creation[creationCapacity];
    if (swprintf(creation, creationCapacity, L"Erstellt: %04u-%02u-%02u %02u:%02u:%02u",
                 unsigned{now.year}, unsigned{now.month}, unsigned{now.day}, unsigned{now.hour},
                 unsigned{now.minute}, unsigned{now.second}) < 0)
        creation[0] = 0;

    const bool dumps = dumpFolder && dumpFolder[0];
    size_t capacity = wcslen(systemText) + wcslen(creation) + fixedRoom;
    if (dumps) capacity += wcslen(dumpLabel) + wcslen(dumpFolder) + wcslen(CRASH_DUMP_PATTERN) + 2;
    for (const LogEntry& entry : entries) capacity += StoredTextLength(entry) + entryRoom;
    auto* text = static_cast<wchar_t*>(malloc(capacity * sizeof(wchar_t)));
    if (!text) return nullptr;

    int written = swprintf(text, capacity, L"MI-RU Diagnose-Protokoll\n%ls\n%ls\n", systemText,
                           creation);
    size_t used = written < 0 ? 0 : static_cast<size_t>(written);
    if (dumps) {
        written = swprintf(text + used, capacity - used, L"%ls%ls\\%ls\n", dumpLabel, dumpFolder, CRASH_DUMP_PATTERN);
        if (written > 0) used += static_cast<size_t>(written);
    }
    for (size_t i = 0; i < separatorLength; i++) text[used++] = L'\u2014';
    text[used++] = L'\n';
    text[used] = 0;

    for (size_t i = 0; i < entries.size(); i++) {
        const LogEntry& entry = entries[i];
        const LogTime& t = entry.time;
        size_t start = used;
        if (i > 0) text[used++] = L'\n';
        // An entry whose fields do not fit its room ends the text before it.
        written = swprintf(text + used, capacity - used, L"%02u:%02u:%02u.%03u  %-6ls  %.511ls",
                           unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second},
                           unsigned{t.milliseconds}, LogLevelLabel(entry.level), entry.text);
        if (written < 0 || static_cast<size_t>(written) >= capacity - used) {
            text[start] = 0;
            break;
        }
        used += static_cast<size_t>(written);
    }
    return text;
}
