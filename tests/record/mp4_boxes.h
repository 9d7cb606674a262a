#pragma once
// The boxes of an MP4 file, for the files a recording cut off at some point leaves.
#include <cstdint>
#include <string>

inline std::string U32(uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
// A box of `type` with `payload` filler bytes.
inline std::string Box(const char* type, uint32_t payload)
{
    return U32(8 + payload) + type + std::string(payload, '\x11');
}
