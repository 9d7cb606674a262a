#pragma once
// The recorder's decisions, free of Windows calls: accepted sizes, the track formats, sample
// durations, gaps in the sound, the kind of a writer failure, the two hand-off queues, the
// dropped-frame check, the encoder backlog rule and the stop of a recording that records nothing.
#include <cstdint>

struct Frame;

constexpr int32_t RECORDING_MAX_SIDE = 8192;
constexpr int64_t RECORDING_DEFAULT_FRAME_DURATION = 333333;  // 100-ns units, 1/30 s
// Sound waits in its queue while the writer composes a picture, however long that takes, up
// to this much sound (100-ns units); beyond it the oldest is dropped. The sample count is a
// memory backstop for samples far shorter than the usual 10 ms.
constexpr int64_t RECORDING_AUDIO_QUEUE_SPAN = 100'000'000;  // 10 s
constexpr int32_t RECORDING_AUDIO_QUEUE_CAPACITY = 4096;
// A sample without a duration counts as the time since the sample before it, at most this.
constexpr int64_t RECORDING_AUDIO_GUESSED_DURATION_MAX = 10'000'000;
constexpr double RECORDING_DROP_WINDOW_SECONDS = 5.0;
// A recording in which every picture that reached the writer for this long (by the pictures'
// own times) failed or was dropped records nothing: it is stopped.
constexpr int64_t RECORDING_NOTHING_RECORDED_LIMIT = 50'000'000;  // 5 s
// Beyond this much video waiting inside the sink writer (100-ns units) a frame is not handed
// to it but counted as an encoder drop, so a slow encoder cannot make memory grow.
constexpr int64_t RECORDING_ENCODER_BACKLOG_LIMIT = 10'000'000;

// Width and height each 1 ... 8192.
bool RecordingSizeValid(int32_t width, int32_t height);
// Video bit rate in bit/s: 12 Mbit/s below 2560 pixels wide, else 20 Mbit/s.
uint32_t RecordingVideoBitrate(int32_t width);

// The microphone's sound as its media type states it (0: not stated).
struct MicrophoneFormat {
    bool pcm;
    uint32_t bitsPerSample;
    uint32_t samplesPerSecond;
    uint32_t channels;
};
// The AAC track for a microphone. The sink writer does not convert sound, and the AAC encoder
// takes only 16-bit PCM at 44100 or 48000 Hz with 1, 2 or 6 channels and encodes it at the same
// rate and channel count; any other microphone format gets no sound track (usable false).
struct AudioTrackFormat {
    bool usable;
    uint32_t samplesPerSecond;
    uint32_t channels;
    uint32_t avgBytesPerSecond;  // 12000 (96 kbit/s), 72000 for six channels
};
AudioTrackFormat RecordingAudioTrackFormat(const MicrophoneFormat& microphone);
// The time `bytes` of the track's PCM last (100-ns units).
int64_t RecordingSoundDuration(uint32_t bytes, const AudioTrackFormat& format);

// The sound stream on the recording's time line (100-ns units from the first picture): where its
// next sample is expected, and how far a gap in it has been told to the writer. A gap is told by
// stream ticks at least once a second through it, and the sample after it is marked as the first
// after a gap.
struct SoundLine {
    bool started = false;  // a sample was written
    int64_t next = 0;      // the next sample's expected time
    int64_t ticked = -1;   // the last tick sent in the current gap; -1: none
};
struct SoundGap {
    bool found;
    int64_t firstTick;  // ticks still to send: at `firstTick` and every spacing after
    int32_t ticks;
};
constexpr int64_t RECORDING_SOUND_GAP_TOLERANCE = 50'000;     // 5 ms of jitter in the times is no gap
constexpr int64_t RECORDING_SOUND_TICK_SPACING = 10'000'000;  // 1 s
constexpr int32_t RECORDING_SOUND_TICKS_MAX = 3600;
// The gap before a sample at `time`. Sound that begins late is none, unless it was told already.
SoundGap SoundLineGap(const SoundLine& line, int64_t time);
// A sample at `time` lasting `duration` went to the writer.
void SoundLineWritten(SoundLine& line, int64_t time, int64_t duration);
// While sound stays away, a tick is due once the newest picture (`pictureTime`) is more than a
// second past it; true with its time in `*tick`.
bool SoundLineTickDue(SoundLine& line, int64_t pictureTime, int64_t* tick);

// Whether a failure the sink writer reports (an HRESULT) is the drive's — the system's file and
// storage errors: disk full, device gone, write fault — rather than the encoder's.
bool RecordingFailureIsDrive(uint32_t code);

// Duration of a video sample: the distance to the previous frame, or the default when there is
// none (last < 0) or the time did not advance.
int64_t RecordingFrameDuration(int64_t lastTimestamp, int64_t timestamp);

// The video mailbox: one frame pair, the newest wins.
struct VideoPair {
    Frame* wide;
    Frame* macro;
    float pipFraction;
    int64_t timestamp;
};
struct VideoMailbox {
    bool pending;
    VideoPair pair;
};
// Stores `pair`; when a pair was waiting it is moved to `*displaced` and true is returned
// (the caller counts it as dropped and releases its Frames).
bool VideoMailboxPut(VideoMailbox& box, const VideoPair& pair, VideoPair* displaced);
// Takes the waiting pair out; false when there is none.
bool VideoMailboxTake(VideoMailbox& box, VideoPair* out);

// The sound queue: a ring of opaque sample pointers with their durations, oldest first, bound
// by the sound it holds (RECORDING_AUDIO_QUEUE_SPAN) and by its slots.
struct AudioSlot {
    void* item;
    int64_t duration;  // 100-ns units, as counted into `span`
};
struct AudioQueue {
    AudioSlot slots[RECORDING_AUDIO_QUEUE_CAPACITY];
    int32_t count;
    int32_t head;
    int64_t span;      // the queued samples' durations together
    int64_t lastTime;  // time of the newest sample pushed, for guessing a missing duration
    bool hasLast;
};
// Appends `item` with its time and duration (100-ns units; 0 or less: unknown, then the time
// since the previous sample counts, at most RECORDING_AUDIO_GUESSED_DURATION_MAX). When every
// slot was taken the oldest is taken out and returned (else null).
void* AudioQueuePush(AudioQueue& queue, void* item, int64_t time, int64_t duration);
// Takes out and returns the oldest item while the queue holds more than
// RECORDING_AUDIO_QUEUE_SPAN of sound (the newest always stays); null once it is within.
void* AudioQueueTakeExcess(AudioQueue& queue);
// The oldest item, or null when the queue is empty.
void* AudioQueuePop(AudioQueue& queue);
// An empty queue for a new recording (its items were taken out before).
void AudioQueueClear(AudioQueue& queue);

// The dropped-frame check over 5-second windows: warn (once per recording) when the drops of a
// window times 4 exceed the frames written in it. The caller adds each written frame to
// `written` before it runs the check.
struct DropWindow {
    double start;  // 0: no window yet
    int32_t written;
    int32_t dropBase;
    bool warned;
};
struct DropWarning {
    bool warn;
    int32_t drops;    // in the window that warned
    int32_t written;  // in the window that warned
};
// `now` in seconds (> 0), `totalDrops` all drops of the recording so far.
DropWarning DropCheck(DropWindow& window, double now, int32_t totalDrops);

// Whether the sink writer holds more than about a second of unwritten video.
bool EncoderBacklogFull(int64_t lastReceived, int64_t lastProcessed);

// What became of a picture the writer took from the mailbox. (A picture displaced from the
// mailbox by a newer one never reaches the writer: a slow composition is no failure.)
enum class PictureOutcome : uint8_t {
    Written,
    GraphicsFailed,  // no compositor, or the composition failed
    EncoderFailed,   // the encoder was too far behind or did not take it
    NotTried,        // the writer had failed already: counts neither way
};
struct NothingRecordedWatch {
    bool failing;          // every picture since `failingSince` failed
    int64_t failingSince;  // the first failed picture's time (100-ns units)
    bool fired;
};
// True once per recording, for the failed picture that makes the failures span
// RECORDING_NOTHING_RECORDED_LIMIT without a written picture between them.
bool NothingRecordedCheck(NothingRecordedWatch& watch, int64_t pictureTime, PictureOutcome outcome);

// Frames per second over the time since the first frame; 0 for 0.5 s or less.
double RecordingFramesPerSecond(int32_t frames, double elapsedSeconds);
