#pragma once
// Copies into the program's fixed-size text fields: always terminated, cut at capacity - 1.
#include <cstdint>

// `dest` receives at most capacity - 1 characters of `text` (null copies nothing) and a
// terminator; nothing happens when dest is null or capacity < 1.
void CopyTextCut(wchar_t* dest, int32_t capacity, const wchar_t* text);
// Appends to the terminated `dest` with the same rule.
void AppendTextCut(wchar_t* dest, int32_t capacity, const wchar_t* text);
