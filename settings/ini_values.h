#pragma once
// How settings values are written to and read from INI text. No Windows dependency.
#include <cstddef>
#include <cstdint>

// "1"/"0", else case-insensitive "true"/"false". False when the text is none of these.
bool IniParseBool(const wchar_t* text, bool* value);

// Optional blanks and sign, digits with "." or "," as separator, no exponent; trailing text
// ignored. False (value untouched) when no number starts the text.
bool IniParseDouble(const wchar_t* text, double* value);

// wcstol in base 10; true when at least one character was consumed.
bool IniParseInt(const wchar_t* text, int32_t* value);

// Fixed point with six decimals ("0.850000", "-1.000000"); magnitude capped at 4e9.
void IniFormatDouble(double value, wchar_t* out, size_t capacity);
