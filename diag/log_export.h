#pragma once
// The export text of the log (copying and saving from the diagnostics window).
#include <span>

#include "diag/log.h"

// "MI-RU Diagnose-Protokoll", the system text, the creation line "Erstellt: …" at `now`, where
// crash dumps go ("Absturz-Speicherabbilder: <folder>\MI-RU-*.dmp", left out without a folder),
// a line of 32 em dashes, then one line "hh:mm:ss.mmm  LABEL   text" per entry, oldest first, without
// a line feed after the last. Allocated with malloc (the caller frees it); null when the
// allocation fails.
wchar_t* LogBuildExportText(std::span<const LogEntry> entries, const wchar_t* systemText,
                            const wchar_t* dumpFolder, const LogTime& now);
