#pragma once
// Names of the crash dumps and which of them to keep: "MI-RU-YYYY-MM-DD_hh-mm-ss.dmp" in the
// application data folder, the newest five. Fixed buffers only: this runs while the process dies.
#include <cstddef>
#include <span>

#include "diag/log.h"

constexpr size_t CRASH_DUMPS_KEPT = 5;
// "MI-RU-YYYY-MM-DD_hh-mm-ss.dmp" and its terminator, with room for a wider year.
constexpr size_t CRASH_DUMP_NAME_CAPACITY = 40;
// What the support is told to look for in the folder.
constexpr wchar_t CRASH_DUMP_PATTERN[] = L"MI-RU-*.dmp";

// The dump's name for the local time `time`; the same date form as the recordings' names.
void CrashDumpFileName(std::span<wchar_t, CRASH_DUMP_NAME_CAPACITY> dest, const LogTime& time);

// True for a name of exactly that form (other files in the folder are never touched).
bool CrashDumpIsDumpName(const wchar_t* name);

// The newest dumps met so far besides the one just written (that one is always kept, even
// when the clock went back), newest first.
struct CrashDumpNewest {
    wchar_t names[CRASH_DUMPS_KEPT - 1][CRASH_DUMP_NAME_CAPACITY];
    size_t count;
};

// Offers a name found in the folder: remembered when it is a dump name, not `current`, and
// among the newest. Names sort by their time.
void CrashDumpOffer(CrashDumpNewest& newest, const wchar_t* current, const wchar_t* name);

// True when `name` is a dump to delete: a dump name that is neither `current` nor among `newest`.
bool CrashDumpIsSurplus(const CrashDumpNewest& newest, const wchar_t* current, const wchar_t* name);
