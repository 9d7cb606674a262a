#include "standins/mp4_layout.h"

#include <algorithm>

namespace {

constexpr uint32_t MOVIE_TIMESCALE = 1000;
constexpr int64_t DEFAULT_FRAME = 333'333;

// Big-endian box writer; Open/Close patch each box's 32-bit size.
struct Boxes {
    std::vector<uint8_t> bytes;
    std::vector<size_t> open;

    void U8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) { U8(v >> 8); U8(v); }
    void U32(uint32_t v) { U16(v >> 16); U16(v & 0xFFFF); }
    void U64(uint64_t v) { U32(static_cast<uint32_t>(v >> 32)); U32(static_cast<uint32_t>(v)); }
    void Zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    void Tag(const char* tag) { bytes.insert(bytes.end(), tag, tag + 4); }
    void Open(const char* tag)
    {
        open.push_back(bytes.size());
        U32(0);
        Tag(tag);
    }
    void OpenFull(const char* tag, uint32_t version, uint32_t flags)
    {
        Open(tag);
        U32(version << 24 | flags);
    }
    void Close()
    {
        size_t start = open.back();
        open.pop_back();
        uint32_t size = static_cast<uint32_t>(bytes.size() - start);
        for (int i = 0; i < 4; ++i) bytes[start + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }
    void Matrix()
    {
        constexpr uint32_t M[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
        for (uint32_t v : M) U32(v);
    }
};

uint64_t Scale(int64_t value, uint64_t to, uint64_t from)
{
    if (value <= 0) return 0;
    return static_cast<uint64_t>(value) / from * to + static_cast<uint64_t>(value) % from * to / from;
}

uint32_t TrackTimescale(const Mp4Track& track)
{
    return track.audio ? std::max<uint32_t>(track.sampleRate, 1) : MP4_TICKS_PER_SECOND;
}

// Media duration in the track's own time scale.
uint64_t MediaDuration(const Mp4Track& track)
{
    if (track.audio) return track.frames;
    uint64_t total = 0;
    for (size_t i = 0; i < track.video.size(); ++i) total += static_cast<uint64_t>(Mp4VideoDuration(track, i));
    return total;
}

// Presentation length in 100 ns, including the start offset.
int64_t EndTime(const Mp4Track& track)
{
    uint64_t media = MediaDuration(track);
    int64_t length = track.audio ? static_cast<int64_t>(Scale(static_cast<int64_t>(media), MP4_TICKS_PER_SECOND, TrackTimescale(track)))
                                 : static_cast<int64_t>(media);
    return std::max<int64_t>(track.start, 0) + length;
}

void SampleEntry(Boxes& b, const Mp4Track& track)
{
    b.OpenFull("stsd", 0, 0);
    b.U32(1);
    if (track.audio) {
        b.Open("sowt");  // sound description version 0: 16-bit little-endian PCM
        b.Zeros(6);
        b.U16(1);        // data reference
        b.U16(0);        // version
        b.U16(0);        // revision
        b.U32(0);        // vendor
        b.U16(track.channels);
        b.U16(16);
        b.U16(0);        // compression id
        b.U16(0);        // packet size
        b.U32(std::min<uint32_t>(track.sampleRate, 0xFFFF) << 16);
        b.Close();
    } else {
        b.Open("jpeg");
        b.Zeros(6);
        b.U16(1);
        b.Zeros(16);
        b.U16(track.width);
        b.U16(track.height);
        b.U32(0x00480000);
        b.U32(0x00480000);
        b.U32(0);
        b.U16(1);        // frames per sample
        b.U8(4);
        b.bytes.insert(b.bytes.end(), {'J', 'P', 'E', 'G'});
        b.Zeros(27);
        b.U16(0x18);
        b.U16(0xFFFF);
        b.Close();
    }
    b.Close();
}

void SampleTables(Boxes& b, const Mp4Track& track, bool fragmented)
{
    b.Open("stbl");
    SampleEntry(b, track);
    if (fragmented) {
        for (const char* tag : {"stts", "stsc", "stco"}) {
            b.OpenFull(tag, 0, 0);
            b.U32(0);
            b.Close();
        }
        b.OpenFull("stsz", 0, 0);
        b.U32(0);
        b.U32(0);
        b.Close();
        b.Close();
        return;
    }
    // Offsets: 64-bit when any would not fit 32 bits.
    std::vector<uint64_t> offsets;
    std::vector<uint32_t> perChunk;
    if (track.audio) {
        for (const Mp4AudioChunk& c : track.chunks) {
            offsets.push_back(c.offset);
            perChunk.push_back(c.frames);
        }
    } else {
        for (const Mp4VideoSample& s : track.video) {
            offsets.push_back(s.offset);
            perChunk.push_back(1);
        }
    }
    b.OpenFull("stts", 0, 0);
    if (track.audio) {
        b.U32(track.frames ? 1 : 0);
        if (track.frames) {
            b.U32(static_cast<uint32_t>(track.frames));
            b.U32(1);
        }
    } else {
        size_t countAt = b.bytes.size();
        b.U32(0);
        uint32_t entries = 0;
        for (size_t i = 0; i < track.video.size();) {
            int64_t delta = Mp4VideoDuration(track, i);
            size_t run = 1;
            while (i + run < track.video.size() && Mp4VideoDuration(track, i + run) == delta) ++run;
            b.U32(static_cast<uint32_t>(run));
            b.U32(static_cast<uint32_t>(std::min<int64_t>(delta, 0xFFFFFFFF)));
            ++entries;
            i += run;
        }
        for (int k = 0; k < 4; ++k) b.bytes[countAt + k] = static_cast<uint8_t>(entries >> (24 - 8 * k));
    }
    b.Close();
    b.OpenFull("stsc", 0, 0);
    size_t countAt = b.bytes.size();
    b.U32(0);
    uint32_t entries = 0;
    for (size_t i = 0; i < perChunk.size(); ++i) {
        if (i > 0 && perChunk[i] == perChunk[i - 1]) continue;
        b.U32(static_cast<uint32_t>(i + 1));
        b.U32(perChunk[i]);
        b.U32(1);
        ++entries;
    }
    for (int k = 0; k < 4; ++k) b.bytes[countAt + k] = static_cast<uint8_t>(entries >> (24 - 8 * k));
    b.Close();
    b.OpenFull("stsz", 0, 0);
    if (track.audio) {
        b.U32(track.channels * 2);
        b.U32(static_cast<uint32_t>(track.frames));
    } else {
        b.U32(0);
        b.U32(static_cast<uint32_t>(track.video.size()));
        for (const Mp4VideoSample& s : track.video) b.U32(s.size);
    }
    b.Close();
    bool wide = !offsets.empty() && *std::max_element(offsets.begin(), offsets.end()) > 0xFFFFFFFFull;
    b.OpenFull(wide ? "co64" : "stco", 0, 0);
    b.U32(static_cast<uint32_t>(offsets.size()));
    for (uint64_t o : offsets) {
        if (wide) b.U64(o);
        else b.U32(static_cast<uint32_t>(o));
    }
    b.Close();
    b.Close();
}

void TrackBox(Boxes& b, const Mp4Track& track, uint32_t id, bool fragmented)
{
    uint64_t media = fragmented ? 0 : MediaDuration(track);
    int64_t start = std::max<int64_t>(track.start, 0);
    uint64_t presented = fragmented ? 0 : Scale(EndTime(track) - start, MOVIE_TIMESCALE, MP4_TICKS_PER_SECOND);
    uint64_t lead = Scale(start, MOVIE_TIMESCALE, MP4_TICKS_PER_SECOND);
    b.Open("trak");
    b.OpenFull("tkhd", 1, 3);  // enabled, in movie
    b.U64(0);
    b.U64(0);
    b.U32(id);
    b.U32(0);
    b.U64(lead + presented);
    b.Zeros(8);
    b.U16(0);
    b.U16(0);
    b.U16(track.audio ? 0x0100 : 0);
    b.U16(0);
    b.Matrix();
    b.U32(track.audio ? 0 : track.width << 16);
    b.U32(track.audio ? 0 : track.height << 16);
    b.Close();
    if (lead > 0 && !fragmented) {
        // The track starts later than the movie: an empty edit first.
        b.Open("edts");
        b.OpenFull("elst", 1, 0);
        b.U32(2);
        b.U64(lead);
        b.U64(static_cast<uint64_t>(-1));
        b.U32(0x10000);
        b.U64(presented);
        b.U64(0);
        b.U32(0x10000);
        b.Close();
        b.Close();
    }
    b.Open("mdia");
    b.OpenFull("mdhd", 1, 0);
    b.U64(0);
    b.U64(0);
    b.U32(TrackTimescale(track));
    b.U64(media);
    b.U16(0x55C4);  // "und"
    b.U16(0);
    b.Close();
    b.OpenFull("hdlr", 0, 0);
    b.U32(0);
    b.Tag(track.audio ? "soun" : "vide");
    b.Zeros(12);
    const char* name = track.audio ? "SoundHandler" : "VideoHandler";
    b.bytes.insert(b.bytes.end(), name, name + 13);  // with its terminator
    b.Close();
    b.Open("minf");
    if (track.audio) {
        b.OpenFull("smhd", 0, 0);
        b.U32(0);
    } else {
        b.OpenFull("vmhd", 0, 1);
        b.Zeros(8);
    }
    b.Close();
    b.Open("dinf");
    b.OpenFull("dref", 0, 0);
    b.U32(1);
    b.OpenFull("url ", 0, 1);  // data in this file
    b.Close();
    b.Close();
    b.Close();
    SampleTables(b, track, fragmented);
    b.Close();
    b.Close();
    b.Close();
}

}  // namespace

int64_t Mp4VideoDuration(const Mp4Track& track, size_t i)
{
    if (i + 1 < track.video.size()) return std::max<int64_t>(track.video[i + 1].time - track.video[i].time, 1);
    return track.lastDuration > 0 ? track.lastDuration : DEFAULT_FRAME;
}

std::vector<uint8_t> Mp4FileHeader(bool fragmented)
{
    Boxes b;
    b.Open("ftyp");
    b.Tag("isom");
    b.U32(0x200);
    for (const char* brand : {"isom", "iso2", "mp41"}) b.Tag(brand);
    if (fragmented) b.Tag("iso6");
    b.Close();
    if (!fragmented) {
        b.U32(1);  // the size follows as 64 bits
        b.Tag("mdat");
        b.U64(MP4_MDAT_HEADER_BYTES);
    }
    return b.bytes;
}

std::vector<uint8_t> Mp4MdatSize(uint64_t mdatOffset, uint64_t end)
{
    Boxes b;
    b.U64(end - mdatOffset);
    return b.bytes;
}

std::vector<uint8_t> Mp4Movie(std::span<const Mp4Track> tracks, bool fragmented, std::string_view comment)
{
    int64_t end = 0;
    for (const Mp4Track& t : tracks) end = std::max(end, EndTime(t));
    Boxes b;
    b.Open("moov");
    b.OpenFull("mvhd", 1, 0);
    b.U64(0);
    b.U64(0);
    b.U32(MOVIE_TIMESCALE);
    b.U64(fragmented ? 0 : Scale(end, MOVIE_TIMESCALE, MP4_TICKS_PER_SECOND));
    b.U32(0x10000);
    b.U16(0x0100);
    b.Zeros(10);
    b.Matrix();
    b.Zeros(24);
    b.U32(static_cast<uint32_t>(tracks.size() + 1));
    b.Close();
    for (size_t i = 0; i < tracks.size(); ++i) TrackBox(b, tracks[i], static_cast<uint32_t>(i + 1), fragmented);
    if (fragmented) {
        b.Open("mvex");
        b.OpenFull("mehd", 1, 0);  // the total duration, filled in when the file is complete
        b.U64(0);
        b.Close();
        for (size_t i = 0; i < tracks.size(); ++i) {
            b.OpenFull("trex", 0, 0);
            b.U32(static_cast<uint32_t>(i + 1));
            b.U32(1);
            b.U32(0);
            b.U32(0);
            b.U32(0);
            b.Close();
        }
        b.Close();
    }
    b.Open("udta");
    size_t at = b.bytes.size();
    b.bytes.insert(b.bytes.end(), {0, 0, 0, 0, 0xA9, 'c', 'm', 't'});  // a text item: length, language, text
    size_t length = std::min<size_t>(comment.size(), 0xFFFF);
    b.U16(static_cast<uint32_t>(length));
    b.U16(0x55C4);
    b.bytes.insert(b.bytes.end(), comment.begin(), comment.begin() + static_cast<ptrdiff_t>(length));
    uint32_t size = static_cast<uint32_t>(b.bytes.size() - at);
    for (int k = 0; k < 4; ++k) b.bytes[at + k] = static_cast<uint8_t>(size >> (24 - 8 * k));
    b.Close();
    b.Close();
    return b.bytes;
}

std::vector<uint8_t> Mp4Fragment(std::span<const Mp4Track> tracks, std::span<const uint64_t> decodeTimes,
                                 uint32_t sequence, uint64_t dataBytes)
{
    Boxes b;
    b.Open("moof");
    b.OpenFull("mfhd", 0, 0);
    b.U32(sequence);
    b.Close();
    std::vector<size_t> offsetFields;
    std::vector<uint64_t> trackData;  // where each track's data starts within the fragment's data
    uint64_t data = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const Mp4Track& t = tracks[i];
        uint32_t count = t.audio ? static_cast<uint32_t>(t.frames) : static_cast<uint32_t>(t.video.size());
        trackData.push_back(data);
        if (count == 0) continue;
        b.Open("traf");
        uint32_t tfhdFlags = 0x020000 | (t.audio ? 0x18 : 0);  // base is the moof; audio: default duration and size
        b.OpenFull("tfhd", 0, tfhdFlags);
        b.U32(static_cast<uint32_t>(i + 1));
        if (t.audio) {
            b.U32(1);
            b.U32(t.channels * 2);
        }
        b.Close();
        b.OpenFull("tfdt", 1, 0);
        b.U64(i < decodeTimes.size() ? decodeTimes[i] : 0);
        b.Close();
        b.OpenFull("trun", 0, t.audio ? 0x1 : 0x301);  // data offset (+ per-sample duration and size)
        b.U32(count);
        offsetFields.push_back(b.bytes.size());
        b.U32(0);
        if (!t.audio) {
            for (size_t s = 0; s < t.video.size(); ++s) {
                b.U32(static_cast<uint32_t>(std::min<int64_t>(Mp4VideoDuration(t, s), 0xFFFFFFFF)));
                b.U32(t.video[s].size);
            }
        }
        b.Close();
        b.Close();
        if (t.audio) data += t.frames * t.channels * 2;
        else for (const Mp4VideoSample& s : t.video) data += s.size;
    }
    b.Close();
    uint64_t moofSize = b.bytes.size();
    size_t field = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const Mp4Track& t = tracks[i];
        if ((t.audio ? t.frames : t.video.size()) == 0) continue;
        uint32_t offset = static_cast<uint32_t>(moofSize + 8 + trackData[i]);
        size_t at = offsetFields[field++];
        for (int k = 0; k < 4; ++k) b.bytes[at + k] = static_cast<uint8_t>(offset >> (24 - 8 * k));
    }
    b.U32(static_cast<uint32_t>(8 + dataBytes));
    b.Tag("mdat");
    return b.bytes;
}
