#pragma once
// The boxes of the substitute sink writer's MP4 files: pictures as JPEG ('jpeg' sample entry),
// sound as interleaved 16-bit little-endian PCM ('sowt'). A plain file is the file header, the
// media data written as it arrives, and the movie box at the end; a fragmented file has the movie
// box first and then one fragment (moof + mdat) every couple of seconds, so a file cut off at any
// point plays up to its last complete fragment. Times are in 100-ns units as the writer got them.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

constexpr uint32_t MP4_TICKS_PER_SECOND = 10'000'000;  // video media time scale: sample times kept exactly
constexpr uint32_t MP4_MDAT_HEADER_BYTES = 16;         // 'mdat' with a 64-bit size, patched at the end

struct Mp4VideoSample {
    uint64_t offset;  // in the file
    uint32_t size;
    int64_t time;     // 100 ns
};

struct Mp4AudioChunk {
    uint64_t offset;
    uint32_t frames;  // sample frames (channels × 2 bytes each)
};

struct Mp4Track {
    bool audio = false;
    uint32_t width = 0, height = 0;           // video
    int64_t lastDuration = 0;                 // video: duration of the last sample (100 ns)
    uint32_t sampleRate = 0, channels = 0;    // audio
    int64_t start = -1;                       // 100-ns time of the first sample; −1: none yet
    std::vector<Mp4VideoSample> video;
    std::vector<Mp4AudioChunk> chunks;
    uint64_t frames = 0;                      // audio: all sample frames so far
};

// Duration of video sample `i`: the distance to the next one (at least one tick), the last one
// lastDuration (one frame at 30/s when that is not positive).
int64_t Mp4VideoDuration(const Mp4Track& track, size_t i);

// 'ftyp' and, for a plain file, the 'mdat' header whose size Mp4PatchMdatSize fills in.
std::vector<uint8_t> Mp4FileHeader(bool fragmented);
// The 8-byte big-endian size to write at (mdat offset + 8) once `end` is the file's end.
std::vector<uint8_t> Mp4MdatSize(uint64_t mdatOffset, uint64_t end);

// The movie box: for a plain file with every sample table; for a fragmented one (tracks without
// samples) the track descriptions and the fragment defaults. `comment` goes into the user data
// ('©cmt', shown by readers as the comment tag); it must be shorter than 64 KiB.
std::vector<uint8_t> Mp4Movie(std::span<const Mp4Track> tracks, bool fragmented, std::string_view comment);

// One fragment of a fragmented file: 'moof' and the 'mdat' header, to be followed by the
// fragment's data in track order (each track's samples, then the next track's). The tracks hold
// only this fragment's samples (offsets relative to the start of that data) and `decodeTimes`
// each track's media time at the fragment's start (video 100 ns, audio sample frames).
std::vector<uint8_t> Mp4Fragment(std::span<const Mp4Track> tracks, std::span<const uint64_t> decodeTimes,
                                 uint32_t sequence, uint64_t dataBytes);
