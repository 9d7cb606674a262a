#pragma once
// The practice name of the watermark as the user types it and as the INI file holds it.
// The profile functions trim blanks around a value and drop one pair of surrounding quotes,
// and a value cannot span lines; these rules keep what the user sees exactly as typed.
#include <cstddef>

// Removes control characters (line breaks, tabs, C1 controls) in place; whether any were found.
bool PraxisTextStrip(wchar_t* text);

// The text as it is written to the INI file: wrapped in double quotes when the profile reader
// would otherwise trim or unquote it, else unchanged. `out` holds `capacity` characters; a
// text that does not fit is cut (never leaving an opening quote without its closing one).
void PraxisTextToIni(const wchar_t* text, wchar_t* out, size_t capacity);
