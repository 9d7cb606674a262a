#include "diag/crash_dump_names.h"

#include <cwchar>

namespace {

// '#' stands for a digit, every other character for itself.
constexpr wchar_t nameForm[] = L"MI-RU-####-##-##_##-##-##.dmp";

bool Among(const CrashDumpNewest& newest, const wchar_t* name)
{
    for (size_t i = 0; i < newest.count; i++)
        if (wcscmp(newest.names[i], name) == 0) return true;
    return false;
}

}  // namespace

void CrashDumpFileName(std::span<wchar_t, CRASH_DUMP_NAME_CAPACITY> dest, const LogTime& t)
{
    int written = swprintf(dest.data(), dest.size(), L"MI-RU-%04u-%02u-%02u_%02u-%02u-%02u.dmp",
                           unsigned{t.year}, unsigned{t.month}, unsigned{t.day}, unsigned{t.hour},
                           unsigned{t.minute}, unsigned{t.second});
    // Unreachable with 16-bit fields (at most 38 characters); an empty name writes no dump.
    if (written < 0) dest[0] = 0;
}

bool CrashDumpIsDumpName(const wchar_t* name)
{
    size_t i = 0;
    for (; nameForm[i] != 0; i++) {
        const wchar_t c = name[i];
        if (nameForm[i] == L'#' ? !(c >= L'0' && c <= L'9') : c != nameForm[i]) return false;
    }
    return name[i] == 0;
}

void CrashDumpOffer(CrashDumpNewest& newest, const wchar_t* current, const wchar_t* name)
{
    if (!CrashDumpIsDumpName(name) || wcscmp(name, current) == 0 || Among(newest, name)) return;
    constexpr size_t capacity = CRASH_DUMPS_KEPT - 1;
    size_t at = 0;
    while (at < newest.count && wcscmp(newest.names[at], name) > 0) at++;
    if (at == capacity) return;
    size_t last = newest.count < capacity ? newest.count : capacity - 1;
    for (size_t i = last; i > at; i--) wcscpy(newest.names[i], newest.names[i - 1]);
    wcscpy(newest.names[at], name);
    if (newest.count < capacity) newest.count++;
}

bool CrashDumpIsSurplus(const CrashDumpNewest& newest, const wchar_t* current, const wchar_t* name)
{
    return CrashDumpIsDumpName(name) && wcscmp(name, current) != 0 && !Among(newest, name);
}
